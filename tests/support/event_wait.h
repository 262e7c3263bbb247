#pragma once

#include <functional>

// Runs the event loop until the predicate holds or the time is up; true when it held.
// The wait blocks on the loop (no spin); a short timer wakes it to look at the clock.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 15000);

// Lets the event loop run for a bounded time, so that an event that must not come has
// had its chance.
void runLoopFor(int ms);
