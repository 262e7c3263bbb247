#pragma once

#include <QString>
#include <QStringList>

class THttpClient;
class TextLog;

// Fetches the manifest at `url` with the client's synchronous Get into memory, puts its
// text line by line into `fetched` (emptied first; CR LF, LF and CR all end a line) and
// returns the non-empty lines, in order.
//
// The event loop runs while the document arrives and while its lines load, so the
// window stays usable and other downloads go on. A status of 400 or more, a failure to
// reach the server, or a document longer than a manifest can be, raises the client's EHttpException with its reason and leaves
// `fetched` as it was. The client is ready for the next fetch afterwards, however the
// fetch ended; a client still busy with an earlier fetch refuses this one as busy and
// that earlier fetch goes on untouched.
//
// The connection, the TLS handshake, the response header and every pause in the document
// each have `timeoutSeconds` (the client's Timeout and BodyIdleTimeout): a silent server
// fails the fetch instead of holding it.
// The bound of a manifest fetch when the user gave none (a clicked link).
constexpr int kManifestFetchTimeoutSeconds = 30;

QStringList FetchManifestLines(THttpClient& client, const QString& url, TextLog& fetched,
                               int timeoutSeconds = kManifestFetchTimeoutSeconds);
