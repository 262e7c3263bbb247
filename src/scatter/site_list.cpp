#include "scatter/site_list.h"

#include "common/text_table.h"
#include "common/user_prompt.h"
#include "scatter/site_list_table.h"

#include <algorithm>

QStringList AddSiteWarnings(const SiteEntry& site) {
    QStringList warnings;
    if (site.webSite.left(7).toLower() != "http://")
        warnings << "Warning!  Your website address does not start with \"http://\"! Double-click it to remove it "
                    "from the list.";
    if (!site.webSite.endsWith('/'))
        warnings << "Warning!  Your website address does not end with a slash \"/\"! Double-click it to remove it "
                    "from the list.";
    if (site.ftpSite.left(4).toLower() == "ftp:")
        warnings << "Warning!  Your ftp address should not start with \"ftp://\"! Double-click it to remove it from "
                    "the list.";
    return warnings;
}

int AddSite(TextTable& sites, const SiteEntry& site, UserPrompt& prompt) {
    for (const QString& warning : AddSiteWarnings(site))
        prompt.information(warning);
    QStringList cells(SiteColumn::Count);
    cells[SiteColumn::FtpSite] = site.ftpSite;
    cells[SiteColumn::UserName] = site.userName;
    cells[SiteColumn::Password] = site.password;
    cells[SiteColumn::WebSite] = site.webSite;
    return sites.addRow(cells);
}

void RemoveSite(TextTable& sites, int selectedRow, UserPrompt& prompt) {
    if (selectedRow < 0 || selectedRow >= sites.rows()) {
        prompt.information("Could not delete. No item selected");
        return;
    }
    sites.removeRow(selectedRow);
}

QStringList SiteEntryCaptions(const TextTable& sites) {
    const int entries = std::max(FixedSiteEntries, sites.rows());
    QStringList captions;
    for (int i = 0; i < entries; ++i)
        captions << (i < sites.rows() ? sites.cell(i, SiteColumn::WebSite) : QString(NoSiteCaption));
    return captions;
}

QString StripAmpersands(const QString& text) {
    QString stripped = text;
    return stripped.remove('&');
}

QString MenuItemText(const QString& caption) {
    QString text = caption;
    return text.replace("&", "&&");
}

void SiteListDrop(int selectedSiteRow, UserPrompt& prompt) {
    if (selectedSiteRow < 0)
        return;
    prompt.information(QString::number(selectedSiteRow));
}
