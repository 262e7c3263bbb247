// The longest stall of the event loop during a gather: the gather engine runs a manifest
// (file or http:// URL) to its end while a 10 ms timer notes the longest gap between two
// of its ticks. A gap far above 10 ms is a time the window would not have answered.
//
// usage: bench_gather_stall MANIFEST_OR_URL SAVE_PATH
// prints: "gather <s> s, longest event-loop stall <ms> ms over <n> ticks, <outcome>"
#include "common/manifest_format.h"
#include "common/text_table.h"
#include "common/user_prompt.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "gather/manifest_text.h"
#include "http/http_client.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

namespace {

// Answers like a user who builds the file whatever happens, and shows nothing.
class SilentPrompt : public UserPrompt {
public:
    void information(const QString& text) override { last = text; }
    void error(const QString& text) override { last = text; }
    bool confirm(const QString&) override { return true; }
    QString openFile(const FileDialog&) override { return {}; }
    QString saveFile(const FileDialog&) override { return {}; }
    QString chooseDirectory(const QString&, const QString&) override { return {}; }
    void openUrl(const QUrl&) override {}
    void setBusy(bool) override {}
    CertificateAnswer trustCertificate(const CertificateQuestion&) override { return CertificateAnswer::No; }
    QString last;
};

QStringList LoadManifest(const QString& source) {
    QStringList lines;
    if (source.startsWith("http://")) {
        THttpClient client;
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        client.SetURL(source);
        client.SetRcvdStream(&buffer);
        client.Get();
        return ManifestTextLines(buffer.data());
    }
    QString error;
    ReadManifestFile(source, lines, error);
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: bench_gather_stall MANIFEST_OR_URL SAVE_PATH\n", stderr);
        return 2;
    }
    GatherSettings settings;
    settings.savePath = QString::fromLocal8Bit(argv[2]);
    if (!settings.savePath.endsWith('/'))
        settings.savePath += '/';
    TextTable table(DownloadTableColumns());
    ManifestLines mempwq;
    SilentPrompt prompt;
    GatherEngine engine(table, mempwq, prompt, [&settings] { return settings; });
    QEventLoop loop;
    engine.onRest = [&loop] { loop.quit(); };
    engine.onRebuilt = [&loop](RebuildOutcome) { loop.quit(); };

    QElapsedTimer clock, sinceTick;
    qint64 longestGap = 0;
    qint64 ticks = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.elapsed());
        sinceTick.restart();
        ++ticks;
    });

    mempwq.replace(LoadManifest(QString::fromLocal8Bit(argv[1])));
    clock.start();
    sinceTick.start();
    probe.start(10);
    // The first pass starts from inside the loop, so the probe sees it too.
    QTimer::singleShot(0, [&engine] { engine.CheckAndFill(); });
    loop.exec();
    std::printf("gather %.3f s, longest event-loop stall %lld ms over %lld ticks, %s\n", clock.elapsed() / 1000.0,
                static_cast<long long>(longestGap), static_cast<long long>(ticks), qPrintable(prompt.last));
    return prompt.last.startsWith("Extracted ") ? 0 : 1;
}
