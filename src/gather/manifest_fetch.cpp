#include "gather/manifest_fetch.h"

#include "common/load_lines.h"
#include "common/text_log.h"
#include "gather/manifest_text.h"
#include "http/http_client.h"

#include <QBuffer>

namespace {

// Holds the fetched document up to the size of the largest manifest; a longer one fails
// the write, and with it the fetch, instead of filling memory with whatever a link
// ending in .pwq serves.
class ManifestBuffer : public QBuffer {
protected:
    qint64 writeData(const char* data, qint64 len) override {
        if (size() + len > kMaxManifestBytes) {
            setErrorString(QStringLiteral("the document is larger than %1 MiB, too large to be a Parcelwick file")
                               .arg(kMaxManifestBytes >> 20));
            return -1;
        }
        return QBuffer::writeData(data, len);
    }
};

}  // namespace

QStringList FetchManifestLines(THttpClient& client, const QString& url, TextLog& fetched, int timeoutSeconds) {
    // The stream and the URL of a running fetch must not be swapped under it: the
    // client's own start refuses the second request before anything is changed.
    if (client.State() != hsReady)
        client.Get();

    ManifestBuffer document;
    document.open(QIODevice::WriteOnly);
    client.SetURL(url);
    client.SetTimeout(timeoutSeconds);
    client.SetBodyIdleTimeout(timeoutSeconds);
    client.SetRcvdStream(&document);
    try {
        client.Get();
    } catch (...) {
        client.SetRcvdStream(nullptr);
        // A start that failed before any connection (an address without a host) leaves
        // the client busy; aborting it lets the next link be fetched.
        if (client.State() != hsReady)
            client.Abort();
        throw;
    }
    client.SetRcvdStream(nullptr);

    // Events run between the lines as they load; another link fetched meanwhile must not
    // mix its lines with these, so the pane gets the whole text at once at the end.
    TextLog loaded;
    LoadLinesFromStream(document.data().constData(), document.data().size(), loaded);
    fetched.clear();
    QStringList lines;
    for (const QString& line : loaded.lines()) {
        fetched.append(line);
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}
