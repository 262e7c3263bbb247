#pragma once

#include <QString>

// The save path that the window starts with and the command-line tool assumes:
// $HOME/ParcelwickFiles/. A save path is a plain prefix and ends with "/".
QString DefaultSavePath();
