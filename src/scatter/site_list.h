#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class TextTable;
class UserPrompt;

// One account as typed into page 3's boxes.
struct SiteEntry {
    QString ftpSite;   // edtftpsite
    QString userName;  // edtusername
    QString password;  // edtpassword
    QString webSite;   // edtWebSite
};

// The warnings that adding a site gives, in order; each is independent of the others.
QStringList AddSiteWarnings(const SiteEntry& site);

// Add to FTP (`btnAddFTPInfoClick`): shows each warning, then appends the site as typed
// (not trimmed, not lower-cased) whatever the warnings said. Returns the new row.
int AddSite(TextTable& sites, const SiteEntry& site, UserPrompt& prompt);

// Double-click on the site list (`lvftpinfoDblClick`): removes the selected row (-1 for
// none, which shows "Could not delete. No item selected").
void RemoveSite(TextTable& sites, int selectedRow, UserPrompt& prompt);

// The site entries of the upload table's popup menu, in order: entry i shows the web
// address of site-list row i, "None" where there is no row. At least the ten entries
// m1..m5, None1..None5; one more for every site beyond the tenth, so every site can be
// chosen. "Do Not UpLoad" is not among them: it always follows as the last item.
QStringList SiteEntryCaptions(const TextTable& sites);

inline constexpr int FixedSiteEntries = 10;
inline constexpr char NoSiteCaption[] = "None";
inline constexpr char DoNotUploadCaption[] = "Do Not UpLoad";

// The text with every "&" removed: a caption as it reads without mnemonic marks.
QString StripAmpersands(const QString& text);

// A caption as a menu item's text: a menu takes "&" as a mnemonic mark, so a literal
// one is doubled.
QString MenuItemText(const QString& caption);

// Rows of the upload table dropped onto the site list (`lvftpinfoDragDrop`): shows the
// 0-based index of the selected site; nothing with no site selected. Changes nothing.
void SiteListDrop(int selectedSiteRow, UserPrompt& prompt);
