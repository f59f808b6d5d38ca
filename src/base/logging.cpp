#include "base/logging.h"

#include <log4cplus/configurator.h>
#include <log4cplus/initializer.h>

#include <atomic>

namespace tavi {

void startLogging()
{
    static std::atomic<bool> started{false};
    if (started.exchange(true))
        return;
    log4cplus::initialize();
    log4cplus::PropertyConfigurator::doConfigure(LOG4CPLUS_TEXT("log.properties"),
                                                 log4cplus::Logger::getDefaultHierarchy(), 0);
}

log4cplus::Logger outputLogger()
{
    return log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("OutPutData"));
}

} // namespace tavi
