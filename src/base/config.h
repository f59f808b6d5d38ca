#pragma once

#include <QString>

namespace tavi {

// Path of the client's settings file, relative to the working directory.
inline const char *const kSysConfigPath = "./etc/sysConfigue.ini";

// Reads one key (for example "/TaviHttp/Url") of the settings file.
// A fresh QSettings every call: edits to the file count for objects created
// afterwards. Missing file or key gives an empty text.
QString sysConfigValue(const QString &key);

// A web site named by a setting ("/TaviHttp/webUrl"): a full http:// or
// https:// address as it is, without a trailing "/"; a bare host (with an
// optional port) means http://HOST.
QString siteAddress(const QString &value);

} // namespace tavi
