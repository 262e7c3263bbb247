#pragma once

#include "common/text_table.h"

// The site list: one row per web-hosting account, in the order added or loaded.
namespace SiteColumn {
enum : int {
    FtpSite = 0,  // FTP host without a scheme (the row's caption)
    UserName,
    Password,     // shown and stored in clear text
    WebSite,      // "http://host/dir/"
    Count
};
}

QList<TextColumn> SiteListColumns();
