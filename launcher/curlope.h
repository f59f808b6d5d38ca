#pragma once

#include <QObject>
#include <QString>
#include <string>

// Fetches the update list named by InIOpe::listUrl(), and its signature.
class curlOpe : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        std::string body; // whatever arrived, also before a failure
        bool ok = false; // the whole body of an HTTP 2xx answer
        QString error;
    };

    // http and https only, the certificate checked against the system's
    // store or the file that SSL_CERT_FILE names; gives up after timeLimitMs
    // in all and at more than maxBytes.
    static Result fetch(const QString &url, size_t maxBytes, long timeLimitMs);

    // The list: 1 MiB and 20 s at most.
    static std::string fetchList();
    static constexpr size_t kListMaxBytes = 1024 * 1024;
    static constexpr long kListTimeLimitMs = 20000;
};
