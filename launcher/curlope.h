#pragma once

#include <QObject>
#include <string>

// Fetches the update list named by InIOpe::listUrl().
class curlOpe : public QObject
{
    Q_OBJECT
public:
    // The received body; whatever arrived before a failure stays in it.
    static std::string fetchList();
};
