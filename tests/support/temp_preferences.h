// A temporary folder whose prefs.ini holds the preferences while it lives, and nothing of it left after.
#pragma once

#include "platform/preferences.h"

#include <QTemporaryDir>

namespace testsupport {

class TemporaryPreferencesDir final : public QTemporaryDir
{
public:
    TemporaryPreferencesDir() { Preferences::instance().useFile(filePath(QStringLiteral("prefs.ini"))); }

    // Runs before the folder is removed. Values still pending would otherwise be written at exit and
    // recreate the folder; nothing can be created under /dev/null, so later writes go nowhere.
    ~TemporaryPreferencesDir()
    {
        Preferences::instance().sync();
        Preferences::instance().useFile(QStringLiteral("/dev/null/prefs.ini"));
    }
};

} // namespace testsupport
