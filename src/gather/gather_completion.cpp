// The three handlers of a part download: header end, data, and completion with the
// verdict on the part file.
#include "common/system_error.h"
#include "common/text_table.h"
#include "common/user_prompt.h"
#include "crc/crc32.h"
#include "gather/coded_gather.h"
#include "gather/download_table.h"
#include "gather/file_hasher.h"
#include "gather/gather_engine.h"
#include "gather/part_digest.h"
#include "gather/part_download.h"
#include "gather/progress_figure.h"
#include "http/http_client.h"
#include "net/socket_error.h"
#include "net/tls_error.h"

namespace {

// What ended a download when the bytes on disk cannot tell it: the part file refused a
// write (a full disk, a server sending more than the part), or the server's certificate
// was refused. Empty for every other end, whose verdict is the part file's.
QString KnownCause(const PartFile& file, quint16 error) {
    const QString refused = PartFileFailure(file);
    if (!refused.isEmpty())
        return refused;
    return error == TLS_ERR_CERTIFICATE ? SocketErrorDesc(error) : QString();
}

}  // namespace

void GatherEngine::headerEnd(PartDownload* download) {
    if (download->dropped)
        return;
    const int row = download->row();
    const THttpClient* client = download->client;
    m_table.setCell(row, DownloadColumn::Size, QString::number(client->ContentLength()));
    m_table.setCell(row, DownloadColumn::Code, QString::number(client->StatusCode()));
    m_table.setCell(row, DownloadColumn::Content, client->ContentType());
}

void GatherEngine::docData(PartDownload* download) {
    if (download->dropped)
        return;
    download->dataSeen = true;
    if (download->shown.isValid() && download->shown.elapsed() < RowRefreshMs)
        return;
    showProgress(download);
}

void GatherEngine::showProgress(PartDownload* download) {
    const int row = download->row();
    const qint64 received = download->client->RcvdCount();
    m_table.setCell(row, DownloadColumn::Recvd, QString::number(received));
    m_table.setCell(row, DownloadColumn::Status, ProgressFigure(received, m_table.cell(row, DownloadColumn::Size)));
    download->shown.start();
}

void GatherEngine::requestDone(PartDownload* download, quint16 error) {
    const GatherSettings s = settings();
    const int row = download->row();
    const THttpClient* client = download->client;
    // The figures the refresh limit held back.
    if (download->dataSeen)
        showProgress(download);
    showEndStatus(row, error, client->StatusCode());
    if (!applyAttemptsLimit(row, download->inCompletion, download->dropped, s)) {
        delete download;
        return;
    }
    m_live.removeOne(download);
    m_hosts.noteAnswer(download->slot.host(), error, client->StatusCode());
    const qint64 tooSlowRate = download->tooSlowRate;
    // The client is freed inside its own handler; it touches nothing of itself after it.
    download->release();
    const bool waiting =
        verify(row, download->file.digest(), s, download->file.takeHasher(), KnownCause(download->file, error));
    noteSequentialEnd(row, error, download->file);
    const int writeError = download->file.writeError();
    const QString fileName = download->file.fileName();
    delete download;
    markTooSlow(row, tooSlowRate);
    afterVerdict(row, waiting, writeError, fileName, error);
}

void GatherEngine::showEndStatus(int row, quint16 error, int statusCode) {
    m_table.setCell(row, DownloadColumn::Status,
                    error != 0          ? "Error:" + QString::number(error)
                    : statusCode == 404 ? QStringLiteral("404 Error")
                                        : QStringLiteral("Done."));
}

// False when a new manifest replaced the table while the message was open: the caller
// frees its download and touches nothing more.
bool GatherEngine::applyAttemptsLimit(int row, bool& inCompletion, const bool& dropped, const GatherSettings& s) {
    if (m_table.cell(row, DownloadColumn::Attempts).toLongLong() < s.attemptsLimit)
        return true;
    // A row that recovery parts stand in for ends quietly at the limit (its verdict says
    // so when it is wrong); the gather goes on.
    if (m_coded && m_coded->recovers())
        return true;
    m_table.setCell(row, DownloadColumn::Status, "Too many attempts Error.");
    inCompletion = true;
    m_prompt.information("Error, too many attempts to download");
    inCompletion = false;
    if (dropped)
        return false;
    // Only now: downloads that ended while the message was open went on as usual.
    m_stopFlag = true;
    return true;
}

// The row has its verdict (or, `waiting`, will have it once its SHA-256 is taken): the
// front ends hear of it, and the gather goes on.
void GatherEngine::afterVerdict(int row, bool waiting, int writeError, const QString& fileName, quint16 error) {
    if (!waiting)
        rowFinished(row);
    if (writeError != 0) {
        // Fetching again cannot help while the disk stays full or the file system
        // refuses. Stopped before the message, which the window shows modally.
        const bool first = !m_localFailure;
        m_localFailure = true;
        m_stopFlag = true;
        if (first)
            m_prompt.error(SystemError("Cannot write ", fileName, writeError));
    }
    if (error == TLS_ERR_CERTIFICATE)
        askAboutCertificates();
    carryOn();
}

bool GatherEngine::verify(int row, const PartDigest& digest, const GatherSettings& s, std::unique_ptr<FileHasher> behind,
                          const QString& cause) {
    const qint64 size = digest.size;
    // An empty file is an error only for a part that should hold something: an empty
    // part (an empty source, or a split with an empty last part) is complete as it is.
    if (size == 0 && m_table.cell(row, DownloadColumn::PartSize) != QLatin1String("0"))
        m_table.setCell(row, DownloadColumn::Status, "Error:ZeroSize");
    m_table.setCell(row, DownloadColumn::SizeOk,
                    m_table.cell(row, DownloadColumn::Size) == m_table.cell(row, DownloadColumn::PartSize) ? "G" : "R");
    bool good = digest.crcKnown &&
                QString::fromStdString(Crc32Text(digest.crc32)) == m_table.cell(row, DownloadColumn::CrcPwq);
    QString wrong = QStringLiteral("Error:CRC");
    // A version-2 part is good only by its SHA-256 too; a download its file or a refused
    // certificate ended is not taken for good on its CRC alone.
    if (good && m_coded) {
        const CodedGather::Sha256Check strong =
            cause.isEmpty() ? m_coded->checkSha256(row, digest, std::move(behind)) : CodedGather::Sha256Check::Wrong;
        if (strong == CodedGather::Sha256Check::Pending)
            return true;
        good = strong == CodedGather::Sha256Check::Good;
        if (!good && cause.isEmpty())
            wrong = QStringLiteral("Error:SHA-256");
    }
    m_table.setCell(row, DownloadColumn::CrcOk, good ? "G" : "R");
    if (!good && s.retryOnCrcError)
        m_table.setCell(row, DownloadColumn::Status, wrong);
    if (!cause.isEmpty())
        m_table.setCell(row, DownloadColumn::Status, "Error:" + cause);
    return false;
}

// After Once or Always the pass that follows fetches the refused rows again, as it
// fetches every row in error.
void GatherEngine::askAboutCertificates() {
    // A question further up the stack takes this refusal into its own round.
    if (m_asking)
        return;
    m_asking = true;
    const bool refused = m_certificateQuestions.AskAll(m_prompt);
    m_asking = false;
    // Instead of failing against that server again until the attempts run out.
    if (refused)
        m_stopFlag = true;
}
