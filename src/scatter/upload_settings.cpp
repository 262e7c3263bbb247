#include "scatter/upload_settings.h"

#include <algorithm>

int RetryWaitMs(int failures, const UploadSettings& settings) {
    const int longest = std::max({settings.longestRetryWaitMs, settings.firstRetryWaitMs, 0});
    int wait = std::max(settings.firstRetryWaitMs, 0);
    // Doubling stops at the longest wait, so no count of failures can overflow it.
    for (int i = 1; i < failures && wait < longest; ++i)
        wait = std::min(longest, std::max(wait, 1) * 2);
    return std::min(wait, longest);
}
