#include "scatter/manifest_writer.h"

#include "common/manifest_format.h"
#include "common/text_table.h"
#include "crc/crc32.h"
#include "scatter/upload_table.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

void MakeManifestLines(const ManifestInputs& inputs, const TextTable& uploadTable, ManifestLines& mempwq) {
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
        const QString partName = QFileInfo(uploadTable.cell(r, UploadColumn::Filename)).fileName();
        mempwq.append(uploadTable.cell(r, UploadColumn::Site) + partName);
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
