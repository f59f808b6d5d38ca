#include "curlope.h"

#include "iniope.h"

#include <cstdio>
#include <curl/curl.h>

namespace {

struct Sink
{
    std::string *body;
    size_t maxBytes;
    bool tooLarge = false;
};

size_t appendBody(char *data, size_t size, size_t count, void *userData)
{
    auto *sink = static_cast<Sink *>(userData);
    const size_t bytes = size * count;
    if (sink->body->size() + bytes > sink->maxBytes) {
        sink->tooLarge = true;
        return 0; // ends the transfer
    }
    sink->body->append(data, bytes);
    return bytes;
}

} // namespace

curlOpe::Result curlOpe::fetch(const QString &url, size_t maxBytes, long timeLimitMs)
{
    Result result;
    CURL *curl = curl_easy_init();
    if (!curl) {
        result.error = QStringLiteral("curl_easy_init() failed");
        return result;
    }
    Sink sink{&result.body, maxBytes};
    const QByteArray address = url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    // A silent, black-holed or trickling server must not keep the client
    // from starting: the whole fetch has one time limit.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, qMin(timeLimitMs, 5000L));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, qMax(timeLimitMs, 1L));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // libcurl does not read SSL_CERT_FILE by itself; the downloads (Qt) and
    // openssl do, so the list is checked against the same authorities.
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) {
        result.error = sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED
            ? QStringLiteral("larger than %1 bytes").arg(maxBytes)
            : QString::fromUtf8(curl_easy_strerror(code));
        std::fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(code));
    } else if (status < 200 || status > 299) {
        result.error = QStringLiteral("HTTP status %1").arg(status);
    } else {
        result.ok = true;
    }
    return result;
}

std::string curlOpe::fetchList()
{
    return fetch(InIOpe::listUrl(), kListMaxBytes, kListTimeLimitMs).body;
}
