#include "scatter/split_coded.h"

#include "coding/split_encoder.h"
#include "common/system_error.h"
#include "common/text_table.h"
#include "common/unique_fd.h"
#include "common/user_error.h"
#include "crc/crc32.h"
#include "scatter/split_plan.h"
#include "scatter/upload_table.h"

#include <vector>

struct CodedSplit::State {
    SplitRequest request;
    SplitPlan plan;
    std::vector<UniqueFd> data;
    std::vector<UniqueFd> recovery;
    std::unique_ptr<SplitEncoder> encoder;
    SplitDigests digests;
    bool done = false;

    QString partPath(int part, bool isRecovery) const {
        return isRecovery ? plan.recoveryPath(part + 1) : plan.dataPath(part + 1);
    }
    UserError failure(const SplitEncoderError& error) const;
    void closeParts();
};

UserError CodedSplit::State::failure(const SplitEncoderError& error) const {
    using Kind = SplitEncoderError::Kind;
    const QString source = request.sourcePath;
    const QString reason = SystemReason(error.error());
    switch (error.kind()) {
    case Kind::ReadSource:
        return UserError("Cannot read " + source + ": " + reason);
    case Kind::SourceEnded:
        return UserError("Cannot read " + source + ": the file ended early; it became shorter during the split");
    case Kind::WriteData:
        return UserError("Cannot write " + partPath(error.part(), false) + ": " + reason);
    case Kind::ReadData:
        return UserError("Cannot read " + partPath(error.part(), false) + ": " + reason);
    case Kind::DataEnded:
        return UserError("Cannot read " + partPath(error.part(), false) +
                         ": the part ended early; it was cut short during the split");
    case Kind::WriteRecovery:
        return UserError("Cannot write " + partPath(error.part(), true) + ": " + reason);
    case Kind::Hashing:
        return UserError("Cannot split " + source + ": SHA-256 in OpenSSL failed");
    case Kind::Cancelled:
        break;
    }
    return UserError("The split of " + source + " was cancelled.");
}

// close() is where a network file system reports a failed write.
void CodedSplit::State::closeParts() {
    for (std::size_t i = 0; i < data.size() + recovery.size(); ++i) {
        const bool isRecovery = i >= data.size();
        UniqueFd& fd = isRecovery ? recovery[i - data.size()] : data[i];
        const int part = static_cast<int>(isRecovery ? i - data.size() : i);
        if (fd.valid() && fd.close() != 0)
            throw UserError("Cannot write " + partPath(part, isRecovery) + ": " + SystemReason(errno));
    }
}

CodedSplit::CodedSplit(const SplitRequest& request) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.request = request;
    s.plan = PlanSplit(request);
    const CodingLayout& layout = s.plan.layout;
    auto create = [&s](const QString& path, bool readable) {
        QString error;
        UniqueFd fd = s.plan.folder.createFile(s.plan.nameInFolder(path), error, readable);
        if (!fd.valid())
            throw UserError(error);
        return fd;
    };
    std::vector<int> dataFds;
    std::vector<int> recoveryFds;
    if (request.writeDataParts) {
        for (int j = 1; j <= layout.dataParts; ++j) {
            s.data.push_back(create(s.plan.dataPath(j), true));
            dataFds.push_back(s.data.back().get());
        }
    }
    for (int j = 1; j <= layout.recoveryParts; ++j) {
        s.recovery.push_back(create(s.plan.recoveryPath(j), false));
        recoveryFds.push_back(s.recovery.back().get());
    }
    s.encoder = std::make_unique<SplitEncoder>(layout, s.plan.reader->fd(), dataFds, recoveryFds);
}

CodedSplit::~CodedSplit() = default;

void CodedSplit::run(const SplitProgress& progress) {
    State& s = *m_state;
    const CodingLayout& layout = s.plan.layout;
    const qint64 total = layout.fileSize + layout.recoveryParts * layout.partSize;
    SplitEncoder::ProgressCallback report;
    if (progress) {
        report = [&](const SplitEncoderProgress& p) {
            const int part = p.sourceDone < layout.fileSize && layout.partSize > 0
                                 ? static_cast<int>(p.sourceDone / layout.partSize) + 1
                                 : layout.dataParts + (layout.recoveryParts > 0 ? 1 : 0);
            progress(p.sourceDone + layout.recoveryParts * p.recoveryDone, total, part);
        };
    }
    try {
        s.digests = s.encoder->run(report);
    } catch (const SplitEncoderError& error) {
        throw s.failure(error);
    }
    s.closeParts();
    s.done = true;
}

void CodedSplit::cancel() { m_state->encoder->cancel(); }

void CodedSplit::fillTable(TextTable& uploadTable) const {
    const State& s = *m_state;
    uploadTable.clear();
    if (!s.done)
        return;
    auto addRow = [&](const QString& path, const PartDigest& part) {
        uploadTable.addRow({path, "?", QString::number(part.size), QString::fromStdString(Crc32Text(part.crc)), "?",
                            "?", "?", "?", "?"});
    };
    for (std::size_t j = 0; j < s.digests.data.size(); ++j)
        addRow(s.plan.dataPath(static_cast<int>(j) + 1), s.digests.data[j]);
    for (std::size_t j = 0; j < s.digests.recovery.size(); ++j)
        addRow(s.plan.recoveryPath(static_cast<int>(j) + 1), s.digests.recovery[j]);
}

SplitOutcome CodedSplit::outcome() const {
    const State& s = *m_state;
    SplitOutcome outcome;
    outcome.sourcePath = s.request.sourcePath;
    outcome.fileCrc = s.digests.fileCrc;
    outcome.dataParts = s.plan.layout.dataParts;
    outcome.recoveryParts = s.plan.layout.recoveryParts;
    if (s.request.strong() && s.done) {
        outcome.fileSha256 = s.digests.fileSha256;
        for (const std::vector<PartDigest>* parts : {&s.digests.data, &s.digests.recovery})
            for (const PartDigest& part : *parts)
                outcome.partSha256 << QString::fromStdString(Sha256Text(part.sha256));
    }
    return outcome;
}
