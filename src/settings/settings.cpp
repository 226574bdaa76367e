#include "settings/settings.h"

namespace qmr {

int Settings::languageIndexFor(const QString &flag)
{
    // Exact and case-sensitive: "chinesegb" or " ChineseGB" start the window in English.
    if (flag == QLatin1String("ChineseGB"))
        return 1;
    if (flag == QLatin1String("ChineseBIG5"))
        return 2;
    return 0;
}

} // namespace qmr
