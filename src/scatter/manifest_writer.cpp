#include "scatter/manifest_writer.h"

#include "common/manifest_format.h"
#include "common/manifest_v2.h"
#include "common/user_error.h"
#include "common/text_table.h"
#include "crc/crc32.h"
#include "scatter/upload_table.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString urlOfRow(const TextTable& uploadTable, int r) {
    return uploadTable.cell(r, UploadColumn::Site) + QFileInfo(uploadTable.cell(r, UploadColumn::Filename)).fileName();
}

// The split's own rows, as the table holds them now (the sites assigned since).
ManifestV2Part partOfRow(const TextTable& uploadTable, int r, const SplitOutcome& split) {
    ManifestV2Part part;
    part.url = urlOfRow(uploadTable, r);
    bool sizeOk = false;
    bool crcOk = false;
    part.size = uploadTable.cell(r, UploadColumn::Size).toLongLong(&sizeOk);
    const QString crc = uploadTable.cell(r, UploadColumn::Crc);
    part.crc = crc.toUInt(&crcOk, 16);
    const auto sha = Sha256FromText(split.partSha256.value(r).toStdString());
    if (!sizeOk || !crcOk || crc.size() != 8 || !sha)
        throw UserError(QString("Cannot make a version-2 manifest: row %1 of the upload table (%2) is not a part of "
                                "the split of %3.")
                            .arg(r + 1)
                            .arg(uploadTable.cell(r, UploadColumn::Filename), split.sourcePath));
    part.sha256 = *sha;
    return part;
}

void makeVersion2Lines(const ManifestInputs& inputs, const TextTable& uploadTable, ManifestLines& mempwq) {
    const SplitOutcome& split = *inputs.strongSplit;
    if (!split.fileSha256 || uploadTable.rows() != split.partSha256.size())
        throw UserError(QString("Cannot make a version-2 manifest: the upload table holds %1 rows, the split of %2 "
                                "made %3.")
                            .arg(uploadTable.rows())
                            .arg(split.sourcePath)
                            .arg(split.partSha256.size()));
    ManifestV2 manifest;
    manifest.fileName = QFileInfo(split.sourcePath).fileName();
    manifest.fileCrc = split.fileCrc;
    manifest.fileSha256 = *split.fileSha256;
    qint64 fileSize = 0;
    for (int r = 0; r < uploadTable.rows(); ++r) {
        const ManifestV2Part part = partOfRow(uploadTable, r, split);
        if (split.isRecoveryRow(r)) {
            manifest.recovery.append(part);
        } else {
            manifest.data.append(part);
            fileSize += part.size;
        }
    }
    const auto layout = MakeCodingLayout(fileSize, static_cast<int>(manifest.data.size()),
                                         static_cast<int>(manifest.recovery.size()));
    if (!layout)
        throw UserError(QString("Cannot make a version-2 manifest: %1 data parts and %2 recovery parts are no split "
                                "of a file.")
                            .arg(manifest.data.size())
                            .arg(manifest.recovery.size()));
    manifest.layout = *layout;
    manifest.comment = inputs.userName;
    manifest.description = inputs.comment;
    mempwq.replace(ManifestV2Lines(manifest));
}

}  // namespace

void MakeManifestLines(const ManifestInputs& inputs, const TextTable& uploadTable, ManifestLines& mempwq) {
    if (inputs.strongSplit)
        return makeVersion2Lines(inputs, uploadTable, mempwq);
    // An unreadable source leaves the value at 0, so the line reads "00000000".
    uint32_t fileCrc = inputs.fileCrc.value_or(0);
    if (!inputs.fileCrc)
        FileCrc32(QFile::encodeName(inputs.sourcePath).toStdString(), fileCrc);

    mempwq.clear();
    mempwq.append(ManifestSignature);
    mempwq.append(ManifestVersion);
    mempwq.append(QFileInfo(inputs.sourcePath).fileName());
    mempwq.append(QString::fromStdString(Crc32Text(fileCrc)));
    mempwq.append(QString::number(inputs.partCount));
    for (int r = 0; r < uploadTable.rows(); ++r) {
        mempwq.append(urlOfRow(uploadTable, r));
        mempwq.append(uploadTable.cell(r, UploadColumn::Size));
        mempwq.append(uploadTable.cell(r, UploadColumn::Crc));
    }
    mempwq.append(inputs.userName);
    mempwq.append(inputs.comment);
}

UserPrompt::FileDialog WritePwqDialog(const QString& baseName) {
    UserPrompt::FileDialog dialog;
    dialog.title = "Save PWQ file as:";
    dialog.filter = "PWQ (*.pwq)";
    dialog.defaultExtension = "pwq";
    dialog.proposedName = baseName + ".pwq";
    return dialog;
}

bool WriteManifestFile(const QStringList& lines, const QString& path, QString& error) {
    QByteArray text;
    for (const QString& line : lines)
        text += line.toUtf8() + "\r\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = "Cannot create " + path + ": " + file.errorString();
        return false;
    }
    if (file.write(text) != text.size() || !file.commit()) {
        error = "Cannot write " + path + ": " + file.errorString();
        return false;
    }
    return true;
}

bool WritePwq(const ManifestLines& mempwq, const QString& baseName, UserPrompt& prompt) {
    const QString path = prompt.saveFile(WritePwqDialog(baseName));
    if (path.isEmpty())
        return false;
    QString error;
    if (!WriteManifestFile(mempwq.lines(), path, error)) {
        prompt.error(error);
        return false;
    }
    return true;
}
