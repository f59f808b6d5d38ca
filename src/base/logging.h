#pragma once

// The one logger of the client, "OutPutData". Every log statement goes
// through the TAVI_LOG_* macros below, which hand file, line and function
// to log4cplus and build the message only when the level is enabled.

#include <QString>
#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include <ostream>

namespace tavi {

// log4cplus::initialize() and configuration from "log.properties" in the
// working directory; the log files and their folders it names are made
// 0600 and 0700. Safe to call more than once; later calls do nothing.
void startLogging();

// Logger "OutPutData".
log4cplus::Logger outputLogger();

// Text from the network as one log line may show it: at most limit
// characters (the total length noted after a cut), line breaks and other
// control characters written as escapes, so no text can forge a line.
// total: the whole text's length when text is already only its start.
QString logExcerpt(const QString &text, int limit = 300, qint64 total = -1);

} // namespace tavi

// Lets log messages stream QStrings as UTF-8.
inline std::ostream &operator<<(std::ostream &os, const QString &text)
{
    return os << text.toUtf8().constData();
}

#define TAVI_LOG_DEBUG(msg) LOG4CPLUS_DEBUG(::tavi::outputLogger(), msg)
#define TAVI_LOG_INFO(msg) LOG4CPLUS_INFO(::tavi::outputLogger(), msg)
#define TAVI_LOG_WARN(msg) LOG4CPLUS_WARN(::tavi::outputLogger(), msg)
#define TAVI_LOG_ERROR(msg) LOG4CPLUS_ERROR(::tavi::outputLogger(), msg)
