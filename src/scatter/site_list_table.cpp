#include "scatter/site_list_table.h"

QList<TextColumn> SiteListColumns() {
    return {{"FTP Site", 150}, {"User Name", 100}, {"Password", 100}, {"WebSite", 250}};
}
