#include "scatter/assignment.h"

#include "common/text_table.h"
#include "common/user_prompt.h"
#include "scatter/site_list_table.h"
#include "scatter/upload_table.h"

#include <algorithm>

namespace {

// Rows in table order, each once, whatever order the view reported the selection in.
QList<int> ValidRows(const TextTable& table, QList<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.removeIf([&](int r) { return r < 0 || r >= table.rows(); });
    return rows;
}

}  // namespace

void AssignSiteToRows(TextTable& uploadTable, const QList<int>& selectedRows, const TextTable& sites, int entry,
                      UserPrompt& prompt) {
    if (entry < 0 || entry >= sites.rows()) {
        prompt.information("Select FTP site (Step 5) not \"None\"");
        return;
    }
    for (int r : ValidRows(uploadTable, selectedRows)) {
        uploadTable.setCell(r, UploadColumn::Site, sites.cell(entry, SiteColumn::WebSite));
        uploadTable.setCell(r, UploadColumn::FtpSite, sites.cell(entry, SiteColumn::FtpSite));
        uploadTable.setCell(r, UploadColumn::UserName, sites.cell(entry, SiteColumn::UserName));
        uploadTable.setCell(r, UploadColumn::Password, sites.cell(entry, SiteColumn::Password));
        uploadTable.setCell(r, UploadColumn::Progress, "?");
    }
}

void MarkDoNotUpload(TextTable& uploadTable, const QList<int>& selectedRows) {
    for (int r : ValidRows(uploadTable, selectedRows)) {
        uploadTable.setCell(r, UploadColumn::Site, "Do Not Upload");
        uploadTable.setCell(r, UploadColumn::Progress, kUploadSent);
        uploadTable.setCell(r, UploadColumn::Status, "--");
    }
}

void AssignSitesInTurn(TextTable& uploadTable, const TextTable& sites, UserPrompt& prompt) {
    if (sites.rows() == 0)
        return;
    for (int r = 0; r < uploadTable.rows(); ++r)
        AssignSiteToRows(uploadTable, {r}, sites, r % sites.rows(), prompt);
}
