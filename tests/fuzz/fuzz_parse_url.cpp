// ParseURL on any text: no crash, and the parts it returns are pieces of the input.
#include "http/parse_url.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const ParsedUrl url = ParseURL(text);
    (void)UriScheme(text);
    // Every part but the scheme (which the split may supply as "http") is cut out of
    // the text, so none can be longer than it.
    for (const QString* part : {&url.user, &url.password, &url.host, &url.port, &url.path})
        if (part->size() > text.size() || !text.contains(*part))
            std::abort();
    return 0;
}
