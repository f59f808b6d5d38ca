#include "hostile.h"

#include <QJsonDocument>
#include <QtEndian>

#include <httplib.h>

#include <chrono>
#include <thread>

namespace {

quint32 crc32(const QByteArray &data)
{
    static quint32 table[256];
    static bool ready = false;
    if (!ready) {
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    quint32 c = 0xffffffffu;
    for (const char byte : data)
        c = table[(c ^ quint8(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

QByteArray chunk(const char *type, const QByteArray &data)
{
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray body = QByteArray(type) + data;
    out += body;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(crc32(body), crc.data());
    return out + crc;
}

QJsonObject objectParam(const httplib::Request &req, const char *name)
{
    if (!req.has_param(name))
        return QJsonObject();
    return QJsonDocument::fromJson(QByteArray::fromStdString(req.get_param_value(name))).object();
}

} // namespace

QByteArray pngHeaderOnly(int width, int height)
{
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(width), header.data());
    qToBigEndian<quint32>(quint32(height), header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 0; // grey
    // A few rows of zeros (filter byte and pixels), compressed; qCompress
    // puts the length in front of the zlib stream.
    const QByteArray rows(4 * (width + 1), '\0');
    const QByteArray data = qCompress(rows).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", data) +
        chunk("IEND", QByteArray());
}

QJsonObject HostileValues::loginOverride() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return login;
}

QJsonObject HostileValues::courseOverride() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return courses;
}

int HostileValues::coursePadding() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return pad;
}

int HostileValues::loginDelayMs() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delay;
}

void HostileValues::hit(const std::string &path)
{
    std::lock_guard<std::mutex> lock(mutex);
    ++hits[path];
}

void HostileValues::install(httplib::Server &server)
{
    server.Get("/demo/hostile/set", [this](const httplib::Request &req, httplib::Response &res) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            login = objectParam(req, "login");
            courses = objectParam(req, "courses");
            pad = req.has_param("pad") ? std::atoi(req.get_param_value("pad").c_str()) : 0;
            delay = req.has_param("delay") ? std::atoi(req.get_param_value("delay").c_str()) : 0;
            hits.clear();
        }
        res.set_content("{\"status\":200}", "application/json");
    });
    server.Get("/demo/hostile/hits", [this](const httplib::Request &req, httplib::Response &res) {
        int count = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            const auto found = hits.find(req.get_param_value("path"));
            count = found == hits.end() ? 0 : found->second;
        }
        res.set_content("{\"hits\":" + std::to_string(count) + "}", "application/json");
    });
    server.Get(R"(/hostile/picture/(\w+)\.png)", [this](const httplib::Request &req, httplib::Response &res) {
        hit(req.path);
        const std::string kind = req.matches[1].str();
        if (kind == "huge") {
            const QByteArray png = pngHeaderOnly(30000, 30000);
            res.set_content(png.constData(), size_t(png.size()), "image/png");
        } else if (kind == "endless") {
            res.set_chunked_content_provider("image/png", [this](size_t offset, httplib::DataSink &sink) {
                static const QByteArray block = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(65536 - 8, '\0');
                // Ends only when the client goes away (or the school stops).
                return !stopping &&
                    sink.write(block.constData() + (offset == 0 ? 0 : 8), size_t(block.size() - (offset == 0 ? 0 : 8)));
            });
        } else if (kind == "slow") {
            for (int waited = 0; waited < 10000 && !stopping; waited += 20)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            res.status = 404;
        } else {
            res.status = 404;
        }
    });
}
