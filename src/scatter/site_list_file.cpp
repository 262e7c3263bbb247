#include "scatter/site_list_file.h"

#include "common/system_error.h"
#include "common/text_table.h"
#include "common/user_prompt.h"
#include "common/write_fully.h"
#include "scatter/site_list_table.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lines as a text-file reader sees them: a final line break ends the last line and
// adds no empty line after it, but an empty line before the end is a line.
QStringList TextFileLines(const QByteArray& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.append(QString::fromUtf8(text.constData() + start, i - start));
        i += (c == '\r' && i + 1 < size && text[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < size)
        lines.append(QString::fromUtf8(text.constData() + start, size - start));
    return lines;
}

}  // namespace

QByteArray SiteListText(const TextTable& sites) {
    QByteArray text = "ftplist\r\n";
    for (int r = 0; r < sites.rows(); ++r)
        for (int c : {SiteColumn::FtpSite, SiteColumn::UserName, SiteColumn::Password, SiteColumn::WebSite})
            text += sites.cell(r, c).toUtf8() + "\r\n";
    return text;
}

void LoadSiteListText(TextTable& sites, const QByteArray& text) {
    const QStringList lines = TextFileLines(text);
    sites.clear();
    for (qsizetype i = 1; i < lines.size(); i += 4) {
        QStringList cells(SiteColumn::Count);
        cells[SiteColumn::FtpSite] = lines.value(i);
        cells[SiteColumn::UserName] = lines.value(i + 1);
        cells[SiteColumn::Password] = lines.value(i + 2);
        cells[SiteColumn::WebSite] = lines.value(i + 3);
        sites.addRow(cells);
    }
}

bool SaveSiteListFile(const TextTable& sites, const QString& path, QString& error) {
    const QByteArray text = SiteListText(sites);
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = SystemError("Cannot create ", path, errno);
        return false;
    }
    // An existing file keeps its mode through O_CREAT: narrow it before the passwords
    // go in.
    if (::fchmod(fd, 0600) != 0) {
        error = SystemError("Cannot protect ", path, errno);
        ::close(fd);
        return false;
    }
    if (const int failed = WriteFully(fd, text.constData(), static_cast<std::size_t>(text.size()))) {
        error = SystemError("Cannot write ", path, failed);
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        error = SystemError("Cannot write ", path, errno);
        return false;
    }
    return true;
}

bool LoadSiteListFile(TextTable& sites, const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "Cannot open " + path + ": " + file.errorString();
        return false;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = "Cannot read " + path + ": " + file.errorString();
        return false;
    }
    LoadSiteListText(sites, text);
    return true;
}

bool SaveSiteListDialog(const TextTable& sites, UserPrompt& prompt) {
    UserPrompt::FileDialog dialog;
    dialog.title = "Save FTP List";
    dialog.proposedName = "ftplist.txt";
    const QString path = prompt.saveFile(dialog);
    if (path.isEmpty())
        return false;
    QString error;
    if (!SaveSiteListFile(sites, path, error)) {
        prompt.error(error);
        return false;
    }
    return true;
}

bool LoadSiteListDialog(TextTable& sites, UserPrompt& prompt) {
    UserPrompt::FileDialog dialog;
    dialog.title = "Load FTP List";
    const QString path = prompt.openFile(dialog);
    if (path.isEmpty())
        return false;
    QString error;
    if (!LoadSiteListFile(sites, path, error)) {
        prompt.error(error);
        return false;
    }
    return true;
}
