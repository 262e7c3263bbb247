#include "browser/manifest_link.h"

#include <QUrl>

// A query or a fragment makes the address something else than the manifest file
// itself (a script's answer, a place in a page), even when it ends in ".pwq".
bool IsManifestLink(const QUrl& target) {
    return !target.hasQuery() && !target.hasFragment() && target.path().endsWith(".pwq", Qt::CaseInsensitive);
}
