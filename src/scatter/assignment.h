#pragma once

#include <QList>

class TextTable;
class UserPrompt;

// A site entry of the upload table's popup menu (m1Click .. None5Click, and entries
// beyond the tenth): assigns site-list row `entry` to the selected rows of the upload
// table: Site = its web address, ftpsite/username/password = its account, Progress =
// "?" (so a row sent before, or marked not to be sent, is sent again). Size, CRC and
// Status stay. An entry with no site behind it shows "Select FTP site (Step 5) not
// \"None\"" and changes nothing; no selected row changes nothing.
//
// The entry's own row is used, so the web address and the account always belong to
// the same site, whatever characters the address holds.
void AssignSiteToRows(TextTable& uploadTable, const QList<int>& selectedRows, const TextTable& sites, int entry,
                      UserPrompt& prompt);

// Do Not UpLoad (`DoNotUpLoad1Click`): the selected rows get Site "Do Not Upload",
// Progress "100%" (the upload run skips them) and Status "--"; their account stays.
void MarkDoNotUpload(TextTable& uploadTable, const QList<int>& selectedRows);

// Gives the parts to the sites in turn, as parcelwick-cli does: part i (from 1) goes to
// site-list row ((i - 1) mod number of sites), as its site entry would give it. An
// empty site list assigns nothing. Recovery rows follow the data rows and so continue
// the turn: of the k + m parts no site holds more than ceil((k + m) / sites), and m at
// least that many lets the file survive the loss of any one site.
void AssignSitesInTurn(TextTable& uploadTable, const TextTable& sites, UserPrompt& prompt);
