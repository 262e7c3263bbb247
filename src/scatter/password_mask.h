#pragma once

#include <QString>

// An FTP protocol line as a log or a terminal may show it: the PASS command always as
// "> PASS ****", and the password itself wherever else it stands (a server that echoes
// it) once it is long enough (6 characters) not to be ordinary text of the line.
QString MaskPassword(const QString& line, const QString& password);
