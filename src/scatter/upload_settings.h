#pragma once

// What one upload run reads once at its start and keeps for every session: the window
// fills it from its controls, the command-line tool from its options.
struct UploadSettings {
    // The client opens each data connection (EPSV, then PASV), as a sender behind a
    // home router or firewall needs ("Passive FTP (behind a router or firewall)").
    bool passive = false;
    // A connection that failed is tried again after this wait, doubled after every
    // further failure up to the longest wait, so an unreachable server is not hammered.
    int firstRetryWaitMs = 1000;
    int longestRetryWaitMs = 30000;
};
