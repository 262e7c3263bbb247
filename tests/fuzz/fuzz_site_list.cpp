// Any bytes as a site-list file, loaded as Load FTP List does: saved and loaded again,
// it is the same list.
#include "scatter/site_list_file.h"
#include "scatter/site_list_table.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TextTable sites(SiteListColumns()), again(SiteListColumns());
    LoadSiteListText(sites, QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    LoadSiteListText(again, SiteListText(sites));
    for (int r = 0; r < qMax(sites.rows(), again.rows()); ++r)
        if (r >= sites.rows() || r >= again.rows() || again.rowCells(r) != sites.rowCells(r))
            std::abort();
    return 0;
}
