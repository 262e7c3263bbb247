#pragma once

#include <QString>

// The message Browse shows when a chosen path looks like abuse material (the word
// "lolita" in any letter case, anywhere in the path); empty otherwise. It only warns:
// the file is taken all the same.
QString ContentWarning(const QString& sourcePath);
