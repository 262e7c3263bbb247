#pragma once

#include <QByteArray>
#include <QString>

class TextTable;
class UserPrompt;

// The site-list file (ftplist.txt): the header "ftplist", then four lines per site (FTP
// host, user name, password, web address), every line ending with CR LF, UTF-8. It
// holds passwords in clear text, so it is created readable by its owner only (0600),
// and an existing file is brought back to 0600 when it is replaced.

// The file's text for the site list.
QByteArray SiteListText(const TextTable& sites);
// Refills the site list from a file's text. The header line is skipped unchecked; then,
// until the text ends, each record takes four lines, a line missing at the end reading
// as empty: a record cut short keeps empty fields, and one empty line after the last
// record adds a row of four empty fields. CR LF, LF and CR all end a line.
void LoadSiteListText(TextTable& sites, const QByteArray& text);

// False and the message in `error` when the file cannot be written or read; a failed
// load leaves the site list as it was.
bool SaveSiteListFile(const TextTable& sites, const QString& path, QString& error);
bool LoadSiteListFile(TextTable& sites, const QString& path, QString& error);

// Save FTP List (`btnSaveftplistClick`) and Load FTP List (`btnloadftplistClick`):
// the dialog, then the file; errors are reported. True when a file was written or
// loaded. After a load the window rebuilds the site entries (SiteEntryCaptions).
bool SaveSiteListDialog(const TextTable& sites, UserPrompt& prompt);
bool LoadSiteListDialog(TextTable& sites, UserPrompt& prompt);
