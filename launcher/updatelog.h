#pragma once

#include <QString>

// The launcher's record of what it did with an update, above all why it
// refused one: standard error and "log/update.log" in the installation
// (a folder and file only the user may read).
void updateLog(const QString &text);
