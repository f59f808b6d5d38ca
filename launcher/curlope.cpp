#include "curlope.h"

#include "iniope.h"

#include <curl/curl.h>
#include <cstdio>

namespace {

size_t appendBody(char *data, size_t size, size_t count, void *userData)
{
    auto *body = static_cast<std::string *>(userData);
    body->append(data, size * count);
    return size * count;
}

} // namespace

std::string curlOpe::fetchList()
{
    std::string body;
    CURL *curl = curl_easy_init();
    if (!curl)
        return body;
    const QByteArray url = InIOpe::listUrl().toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    // A silent or black-holed list server must not keep the client from
    // starting: give up on connecting after 5 s and on a stalled transfer
    // after 15 s without data.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 15L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK)
        std::fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(code));
    curl_easy_cleanup(curl);
    return body;
}
