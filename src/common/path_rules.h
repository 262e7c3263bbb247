#pragma once

#include <QString>

// A manifest is outside input, yet its file-name line and its part URLs name files that
// the receiving side creates. Only a plain file name may do that: not empty, not "." or
// "..", and without "/", "\" or NUL, so that nothing lands outside the folder meant.
bool IsPlainFileName(const QString& name);

// The name as it can be shown in a message between quotes: control characters (a NUL,
// a tab) become visible escapes such as "\0", so the user sees what was refused.
QString VisibleName(const QString& name);
