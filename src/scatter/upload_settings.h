#pragma once

#include "ftp/ftp_types.h"
#include "http/url_check.h"

#include <QString>

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
    // How many accounts are sent to at once (1..8; 1 is one part after another, in
    // table order). An account never has more than one session at a time.
    int sessions = 1;
    // An account that answers 421 (or 530 "too many connections") is busy, not wrong:
    // the part waits this long, doubled up to the longest wait, and is tried again.
    int firstBusyWaitMs = 1000;
    int longestBusyWaitMs = 60000;
    // A store broken in the middle (the data connection lost, a time-out, 426) is tried
    // again in the same run, at most this many times per part, and where the server
    // offers REST STREAM only the rest is sent. Off: the part waits for the next run and
    // is then sent from its first byte.
    bool resume = false;
    int brokenStoreAttempts = 10;
    // After a part is stored, its web address (the row's web site and the part's name,
    // as the manifest will have it) is checked: the length a HEAD announces, the CRC-32
    // of a GET, or not at all. A part the address does not serve shows "Error:web" (an
    // address that gives no answer at all is only noted in the log).
    UrlCheckMode verify = UrlCheckMode::Off;
};

// The wait before the next connection attempt after `failures` failed ones (from 1):
// the first wait, doubled for every further failure, never beyond the longest wait.
int RetryWaitMs(int failures, const UploadSettings& settings);
int BusyWaitMs(int failures, const UploadSettings& settings);

// A refusal that says the account has too many sessions now (421, or a 530 that says
// so), which a later attempt may get past.
bool IsBusyRefusal(int statusCode, const QString& reply);
