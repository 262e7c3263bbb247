#include "common/save_path.h"

#include <QDir>

QString DefaultSavePath() { return QDir::homePath() + "/ParcelwickFiles/"; }
