#include "scatter/split_warning.h"

QString ContentWarning(const QString& sourcePath) {
    if (!sourcePath.contains("lolita", Qt::CaseInsensitive))
        return {};
    return "Parcelwick condemns the distribution of child pornography. All violations will be reported to the "
           "Federal Authorities in your country.";
}
