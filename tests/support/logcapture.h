#pragma once

#include "base/logging.h"

#include <QStringList>
#include <log4cplus/appender.h>
#include <log4cplus/spi/loggingevent.h>

#include <memory>
#include <mutex>

namespace testsupport {

// The client's log messages, every level, while it exists; any thread.
class LogCapture
{
public:
    LogCapture() : m_lines(std::make_shared<Lines>()), m_appender(new Collector(m_lines))
    {
        log4cplus::Logger logger = tavi::outputLogger();
        m_level = logger.getLogLevel();
        logger.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
        logger.addAppender(m_appender);
    }
    ~LogCapture()
    {
        log4cplus::Logger logger = tavi::outputLogger();
        logger.removeAppender(m_appender);
        logger.setLogLevel(m_level);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList messages() const
    {
        std::lock_guard<std::mutex> lock(m_lines->mutex);
        return m_lines->text;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_lines->mutex);
        m_lines->text.clear();
    }

private:
    struct Lines
    {
        std::mutex mutex;
        QStringList text;
    };
    class Collector : public log4cplus::Appender
    {
    public:
        explicit Collector(std::shared_ptr<Lines> lines) : m_lines(std::move(lines)) {}
        ~Collector() override { destructorImpl(); }
        void close() override {}

    protected:
        void append(const log4cplus::spi::InternalLoggingEvent &event) override
        {
            std::lock_guard<std::mutex> lock(m_lines->mutex);
            m_lines->text << QString::fromStdString(event.getMessage());
        }

    private:
        std::shared_ptr<Lines> m_lines;
    };

    std::shared_ptr<Lines> m_lines;
    log4cplus::SharedAppenderPtr m_appender;
    log4cplus::LogLevel m_level;
};

} // namespace testsupport
