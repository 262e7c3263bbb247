#pragma once

#include <QString>

// An FTP protocol line, reply or error text as a log, a terminal or a message may show
// it: the PASS command always as "> PASS ****", and the password wherever else it
// stands (a server that echoes it), whatever its length.
//
// A password of 6 characters or more is masked wherever it occurs. A shorter one is
// masked wherever it stands as a whole: not as a piece of a longer word ("530 abc is
// wrong", "pw='abc'" and "user:abc." hide it; "abcd", "xabc" and "password" for "pass"
// stay). Masking every "a" of a one-letter password would leave no line readable, and a
// server that repeats the password repeats it as it was sent, a word of its own.
QString MaskPassword(const QString& line, const QString& password);
