#pragma once

#include "ftp/ftp_types.h"

// What one upload run reads once at its start and keeps for every session: the window
// fills it from its controls, the command-line tool from its options.
struct UploadSettings {
    // The client opens each data connection (EPSV, then PASV), as a sender behind a
    // home router or firewall needs ("Passive FTP (behind a router or firewall)").
    bool passive = false;
    // "FTP over TLS": off (plain FTP), when offered (AUTH TLS tried, a refusal goes on in
    // plain text) or required (a refusal, or a login that fails, ends the part's session).
    TFtpTlsMode tlsMode = ftpTlsOff;
    // A connection that failed is tried again after this wait, doubled after every
    // further failure up to the longest wait, so an unreachable server is not hammered.
    int firstRetryWaitMs = 1000;
    int longestRetryWaitMs = 30000;
};

// The wait before the next connection attempt after `failures` failed ones (from 1):
// the first wait, doubled for every further failure, never beyond the longest wait.
int RetryWaitMs(int failures, const UploadSettings& settings);
