#pragma once

class QUrl;

// A navigation target that names a manifest: its path ends in ".pwq", in any letter
// case, and nothing follows the extension (no query, no fragment). Such a link is not
// shown by the browser; the program fetches it and gathers the file it describes.
bool IsManifestLink(const QUrl& target);
