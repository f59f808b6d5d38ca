#include "base/logging.h"

#include "base/privatefiles.h"

#include <log4cplus/configurator.h>
#include <log4cplus/fileappender.h>
#include <log4cplus/helpers/property.h>
#include <log4cplus/initializer.h>
#include <log4cplus/spi/factory.h>

#include <QFileInfo>

#include <atomic>
#include <memory>

namespace tavi {

namespace {

// The file appenders of log4cplus with the log's folder and files made the
// user's alone (0700, 0600) before log4cplus opens them, also at every
// roll-over. log.properties names the usual classes; they are swapped for
// these when it is read.
void preparePrivate(const log4cplus::tstring &file, bool createDirs)
{
    const QString path = QString::fromStdString(file);
    if (path.isEmpty())
        return;
    const QString folder = QFileInfo(path).path();
    if (createDirs || QFileInfo::exists(folder))
        makePrivateDir(folder);
    preparePrivateFile(path);
}

bool createDirsProperty(const log4cplus::helpers::Properties &properties)
{
    bool createDirs = false;
    properties.getBool(createDirs, LOG4CPLUS_TEXT("CreateDirs"));
    return createDirs;
}

template<class Base> class PrivateFileAppender : public Base
{
public:
    explicit PrivateFileAppender(const log4cplus::helpers::Properties &properties)
        : Base((preparePrivate(properties.getProperty(LOG4CPLUS_TEXT("File")), createDirsProperty(properties)),
                properties))
    {
    }

protected:
    void open(std::ios_base::openmode mode) override
    {
        preparePrivate(this->filename, this->createDirs);
        Base::open(mode);
    }
};

template<class Appender> class PrivateFactory : public log4cplus::spi::AppenderFactory
{
public:
    explicit PrivateFactory(const char *name) : m_name(LOG4CPLUS_C_STR_TO_TSTRING(name)) {}
    log4cplus::SharedAppenderPtr createObject(const log4cplus::helpers::Properties &properties) override
    {
        return log4cplus::SharedAppenderPtr(new Appender(properties));
    }
    const log4cplus::tstring &getTypeName() const override { return m_name; }

private:
    log4cplus::tstring m_name;
};

struct Swap
{
    const char *usual;
    const char *own;
};

const Swap kSwaps[] = {
    {"log4cplus::FileAppender", "tavi::PrivateFileAppender"},
    {"log4cplus::RollingFileAppender", "tavi::PrivateRollingFileAppender"},
    {"log4cplus::DailyRollingFileAppender", "tavi::PrivateDailyRollingFileAppender"},
};

void registerPrivateAppenders()
{
    auto &registry = log4cplus::spi::getAppenderFactoryRegistry();
    registry.put(std::unique_ptr<log4cplus::spi::AppenderFactory>(
        new PrivateFactory<PrivateFileAppender<log4cplus::FileAppender>>(kSwaps[0].own)));
    registry.put(std::unique_ptr<log4cplus::spi::AppenderFactory>(
        new PrivateFactory<PrivateFileAppender<log4cplus::RollingFileAppender>>(kSwaps[1].own)));
    registry.put(std::unique_ptr<log4cplus::spi::AppenderFactory>(
        new PrivateFactory<PrivateFileAppender<log4cplus::DailyRollingFileAppender>>(kSwaps[2].own)));
}

} // namespace

void startLogging()
{
    static std::atomic<bool> started{false};
    if (started.exchange(true))
        return;
    log4cplus::initialize();
    registerPrivateAppenders();
    log4cplus::helpers::Properties properties(LOG4CPLUS_TEXT("log.properties"));
    const log4cplus::tstring prefix = LOG4CPLUS_TEXT("log4cplus.appender.");
    for (const log4cplus::tstring &key : properties.propertyNames()) {
        // "log4cplus.appender.NAME" holds NAME's class; its options have
        // one more dot.
        if (key.compare(0, prefix.size(), prefix) != 0 || key.find('.', prefix.size()) != log4cplus::tstring::npos)
            continue;
        const log4cplus::tstring value = properties.getProperty(key);
        for (const Swap &swap : kSwaps)
            if (value == LOG4CPLUS_C_STR_TO_TSTRING(swap.usual))
                properties.setProperty(key, LOG4CPLUS_C_STR_TO_TSTRING(swap.own));
    }
    log4cplus::PropertyConfigurator configurator(properties, log4cplus::Logger::getDefaultHierarchy(), 0);
    configurator.configure();
}

log4cplus::Logger outputLogger()
{
    return log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("OutPutData"));
}

QString logExcerpt(const QString &text, int limit, qint64 total)
{
    if (total < text.size())
        total = text.size();
    QString shown;
    const int kept = text.size() <= limit ? text.size() : limit;
    shown.reserve(kept + 16);
    for (int i = 0; i < kept; ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        if (u == '\n')
            shown += QLatin1String("\\n");
        else if (u == '\r')
            shown += QLatin1String("\\r");
        else if (u == '\t')
            shown += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u <= 0x9f) || u == 0x2028 || u == 0x2029 || u == 0x85)
            shown += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    if (kept < total)
        shown += QStringLiteral("…(%1 characters)").arg(total);
    return shown;
}

} // namespace tavi
