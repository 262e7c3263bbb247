#pragma once

#include <QString>

// Where the FTP client connects for a site's FTP host as the user typed it, in the site
// list or a loaded site-list file: "host" goes to the FTP port ("ftp", 21);
// "host:2121" and "[address]:2121" to the port given. Only a port of 1..65535 counts
// as one: anything else after a colon (a bare IPv6 address, "host:abc") stays part of
// the name, and the name lookup then reports it. Blanks around the text are dropped.
struct FtpSiteAddress {
    QString host;
    QString port;
};

FtpSiteAddress SplitFtpSite(const QString& ftpSite);
