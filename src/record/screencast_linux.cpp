#include "record/screencast.h"

#include "base/logging.h"
#include "base/privatefiles.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QEventLoop>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QVariantMap>

#include <fcntl.h>
#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
// The portal's own calls answer at once; only their Response waits on the user.
constexpr int kCallTimeoutMs = 10000;
constexpr int kDefaultWidth = 1920;
constexpr int kDefaultHeight = 1080;
// Larger is not a monitor but a hostile or broken stream.
constexpr int kMaxSide = 16384;

std::atomic<int> g_connections{0};

// Waits on the capture thread for one portal Request's Response signal.
class PortalResponse : public QObject
{
    Q_OBJECT
public:
    uint code = 2;
    QVariantMap results;
    bool answered = false;
    QEventLoop *loop = nullptr;

public slots:
    void onResponse(uint response, const QVariantMap &values)
    {
        code = response;
        results = values;
        answered = true;
        if (loop)
            loop->quit();
    }
};

int avFormatOf(uint32_t spaFormat, int *bytesPerPixel)
{
    *bytesPerPixel = 4;
    switch (spaFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
        return AV_PIX_FMT_BGR0;
    case SPA_VIDEO_FORMAT_RGBx:
        return AV_PIX_FMT_RGB0;
    case SPA_VIDEO_FORMAT_xRGB:
        return AV_PIX_FMT_0RGB;
    case SPA_VIDEO_FORMAT_xBGR:
        return AV_PIX_FMT_0BGR;
    case SPA_VIDEO_FORMAT_BGRA:
        return AV_PIX_FMT_BGRA;
    case SPA_VIDEO_FORMAT_RGBA:
        return AV_PIX_FMT_RGBA;
    case SPA_VIDEO_FORMAT_ARGB:
        return AV_PIX_FMT_ARGB;
    case SPA_VIDEO_FORMAT_ABGR:
        return AV_PIX_FMT_ABGR;
    case SPA_VIDEO_FORMAT_RGB:
        *bytesPerPixel = 3;
        return AV_PIX_FMT_RGB24;
    case SPA_VIDEO_FORMAT_BGR:
        *bytesPerPixel = 3;
        return AV_PIX_FMT_BGR24;
    default:
        return AV_PIX_FMT_NONE;
    }
}

QSettings *openSettings()
{
    const QString path = ScreenCast::settingsPath();
    tavi::makePrivateDir(QFileInfo(path).absolutePath());
    tavi::preparePrivateFile(path);
    return new QSettings(path, QSettings::IniFormat);
}
} // namespace

// The portal's exchange on a private bus connection of the calling thread:
// CreateSession, SelectSources, Start (each answered by a Response signal),
// then OpenPipeWireRemote.
class ScreenCast::Portal
{
public:
    ~Portal() { close(); }

    ScreenCast::Result open(int timeoutMs, int *pipeWireFd, uint32_t *node)
    {
        m_name = QStringLiteral("tavi-screencast-%1").arg(++g_connections);
        m_connection.reset(new QDBusConnection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_name)));
        if (!m_connection->isConnected()) {
            m_error = QStringLiteral("no session bus");
            return Missing;
        }
        m_sender = m_connection->baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        bool ok = false;
        const uint version = property(QStringLiteral("version")).toUInt(&ok);
        if (!ok)
            return Missing;
        const uint cursorModes = property(QStringLiteral("AvailableCursorModes")).toUInt();

        QVariantMap options{{QStringLiteral("session_handle_token"), QStringLiteral("tavi%1").arg(++m_tokens)}};
        QVariantMap results;
        Result result = request(QStringLiteral("CreateSession"), {}, options, timeoutMs, &results);
        if (result != Opened)
            return result;
        m_session = results.value(QStringLiteral("session_handle")).toString();
        if (m_session.isEmpty()) {
            m_error = QStringLiteral("no session handle");
            return Failed;
        }

        std::unique_ptr<QSettings> settings(openSettings());
        options = {{QStringLiteral("types"), 1u}, {QStringLiteral("multiple"), false}};
        if (cursorModes & 2u) // embedded in the pictures
            options.insert(QStringLiteral("cursor_mode"), 2u);
        if (version >= 4) {
            // Kept until revoked: the next class asks nothing.
            options.insert(QStringLiteral("persist_mode"), 2u);
            const QString token = settings->value(QStringLiteral("ScreenCast/restoreToken")).toString();
            if (!token.isEmpty())
                options.insert(QStringLiteral("restore_token"), token);
        }
        const QVariant session = QVariant::fromValue(QDBusObjectPath(m_session));
        result = request(QStringLiteral("SelectSources"), {session}, options, timeoutMs, &results);
        if (result != Opened)
            return result;
        result = request(QStringLiteral("Start"), {session, QString()}, {}, timeoutMs, &results);
        if (result != Opened)
            return result;
        int width = 0, height = 0;
        if (!firstStream(results.value(QStringLiteral("streams")), node, &width, &height)) {
            m_error = QStringLiteral("no stream");
            return Failed;
        }
        const QString token = results.value(QStringLiteral("restore_token")).toString();
        if (!token.isEmpty())
            settings->setValue(QStringLiteral("ScreenCast/restoreToken"), token);
        if (width > 1 && height > 1 && width <= kMaxSide && height <= kMaxSide) {
            settings->setValue(QStringLiteral("ScreenCast/width"), width);
            settings->setValue(QStringLiteral("ScreenCast/height"), height);
        }
        settings->sync();

        QDBusMessage call = QDBusMessage::createMethodCall(kService, kObjectPath, kScreenCastInterface,
                                                           QStringLiteral("OpenPipeWireRemote"));
        call.setArguments({session, QVariantMap()});
        const QDBusMessage reply = m_connection->call(call, QDBus::Block, kCallTimeoutMs);
        const QList<QVariant> values = reply.arguments();
        const QDBusUnixFileDescriptor fd =
            values.isEmpty() ? QDBusUnixFileDescriptor() : values.first().value<QDBusUnixFileDescriptor>();
        if (reply.type() != QDBusMessage::ReplyMessage || !fd.isValid()) {
            m_error = reply.errorMessage();
            return Failed;
        }
        *pipeWireFd = ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
        return *pipeWireFd >= 0 ? Opened : Failed;
    }

    void cancel()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
        if (m_loop)
            QMetaObject::invokeMethod(m_loop, "quit", Qt::QueuedConnection);
    }

    void close()
    {
        if (!m_connection)
            return;
        if (!m_session.isEmpty()) {
            m_connection->call(
                QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, QStringLiteral("Close")),
                QDBus::Block, kCallTimeoutMs);
            m_session.clear();
        }
        m_connection.reset();
        QDBusConnection::disconnectFromBus(m_name);
    }

    QString m_error;

private:
    QVariant property(const QString &name)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kService, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call.setArguments({kScreenCastInterface, name});
        const QDBusMessage reply = m_connection->call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            m_error = reply.errorMessage();
            return QVariant();
        }
        return reply.arguments().first().value<QDBusVariant>().variant();
    }

    Result request(const QString &method, QList<QVariant> arguments, QVariantMap options, int timeoutMs,
                   QVariantMap *results)
    {
        const QString token = QStringLiteral("tavi%1").arg(++m_tokens);
        // Listen before the call: the answer may come before the call returns.
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(m_sender, token);
        PortalResponse response;
        m_connection->connect(kService, path, kRequestInterface, QStringLiteral("Response"), &response,
                              SLOT(onResponse(uint, QVariantMap)));
        options.insert(QStringLiteral("handle_token"), token);
        arguments.append(options);
        const bool answered = callAndWait(method, arguments, timeoutMs, &response);
        m_connection->disconnect(kService, path, kRequestInterface, QStringLiteral("Response"), &response,
                                 SLOT(onResponse(uint, QVariantMap)));
        if (!answered)
            return Failed;
        *results = response.results;
        if (response.code == 1) {
            m_error = method + QStringLiteral(": cancelled");
            return Refused;
        }
        if (response.code != 0) {
            m_error = method + QStringLiteral(": refused");
            return method == QLatin1String("CreateSession") ? Failed : Refused;
        }
        return Opened;
    }

    // Calls the method and waits for its Response (or cancel(), or the time).
    bool callAndWait(const QString &method, const QList<QVariant> &arguments, int timeoutMs, PortalResponse *response)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kObjectPath, kScreenCastInterface, method);
        call.setArguments(arguments);
        const QDBusMessage reply = m_connection->call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            m_error = method + QStringLiteral(": ") + reply.errorMessage();
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_cancelled) {
                m_error = method + QStringLiteral(": stopped");
                return false;
            }
            m_loop = &loop;
        }
        response->loop = &loop;
        if (!response->answered)
            loop.exec();
        response->loop = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loop = nullptr;
        if (!response->answered)
            m_error = method + (m_cancelled ? QStringLiteral(": stopped") : QStringLiteral(": no answer"));
        return response->answered;
    }

    static bool firstStream(const QVariant &value, uint32_t *node, int *width, int *height)
    {
        if (!value.canConvert<QDBusArgument>())
            return false;
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("a(ua{sv})"))
            return false;
        bool found = false;
        argument.beginArray();
        while (!argument.atEnd()) {
            uint id = 0;
            QVariantMap properties;
            argument.beginStructure();
            argument >> id >> properties;
            argument.endStructure();
            if (found)
                continue;
            found = true;
            *node = id;
            const QVariant size = properties.value(QStringLiteral("size"));
            if (size.canConvert<QDBusArgument>()) {
                const QDBusArgument pair = size.value<QDBusArgument>();
                if (pair.currentSignature() == QLatin1String("(ii)")) {
                    pair.beginStructure();
                    pair >> *width >> *height;
                    pair.endStructure();
                }
            }
        }
        argument.endArray();
        return found;
    }

    std::unique_ptr<QDBusConnection> m_connection;
    QString m_name;
    QString m_sender;
    QString m_session;
    int m_tokens = 0;
    std::mutex m_mutex;
    QEventLoop *m_loop = nullptr;
    bool m_cancelled = false;
};

// The portal's PipeWire stream, on a PipeWire thread loop of its own.
class ScreenCast::Stream
{
public:
    explicit Stream(ScreenCast *owner) : m_owner(owner) {}
    ~Stream() { close(); }

    bool open(int fd, uint32_t node)
    {
        // Once per process (a static's guard: std::call_once would tie the
        // binaries to the dynamic loader for its thread-local state).
        static const bool initialised = (pw_init(nullptr, nullptr), true);
        (void)initialised;
        m_loop = pw_thread_loop_new("tavi-screencast", nullptr);
        if (!m_loop) {
            ::close(fd);
            return false;
        }
        m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
        if (!m_context || pw_thread_loop_start(m_loop) < 0) {
            ::close(fd);
            return false;
        }
        pw_thread_loop_lock(m_loop);
        bool ok = false;
        m_core = pw_context_connect_fd(m_context, fd, nullptr, 0); // takes fd
        if (m_core) {
            static const pw_core_events coreEvents = [] {
                pw_core_events e = {};
                e.version = PW_VERSION_CORE_EVENTS;
                e.error = [](void *data, uint32_t id, int, int res, const char *message) {
                    if (id == PW_ID_CORE && res == -EPIPE)
                        static_cast<Stream *>(data)->m_owner->streamEnded();
                };
                return e;
            }();
            pw_core_add_listener(m_core, &m_coreListener, &coreEvents, this);
            m_stream = pw_stream_new(m_core, "tavi-screen",
                                     pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                       PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        }
        if (m_stream) {
            static const pw_stream_events streamEvents = [] {
                pw_stream_events e = {};
                e.version = PW_VERSION_STREAM_EVENTS;
                e.state_changed = [](void *data, pw_stream_state, pw_stream_state state, const char *error) {
                    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
                        TAVI_LOG_WARN("screen cast: the stream ended" << (error ? error : ""));
                        static_cast<Stream *>(data)->m_owner->streamEnded();
                    }
                };
                e.param_changed = [](void *data, uint32_t id, const spa_pod *param) {
                    static_cast<Stream *>(data)->formatChanged(id, param);
                };
                e.process = [](void *data) { static_cast<Stream *>(data)->process(); };
                return e;
            }();
            pw_stream_add_listener(m_stream, &m_streamListener, &streamEvents, this);
            uint8_t buffer[1024];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
            spa_rectangle size = SPA_RECTANGLE(kDefaultWidth, kDefaultHeight);
            spa_rectangle minSize = SPA_RECTANGLE(2, 2), maxSize = SPA_RECTANGLE(kMaxSide, kMaxSide);
            spa_fraction rate = SPA_FRACTION(25, 1), minRate = SPA_FRACTION(0, 1), maxRate = SPA_FRACTION(1000, 1);
            const spa_pod *params[1];
            params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
                SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
                SPA_FORMAT_VIDEO_format,
                SPA_POD_CHOICE_ENUM_Id(11, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_RGBx,
                                       SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_BGRA,
                                       SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_ABGR,
                                       SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_BGR),
                SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
                SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &maxRate)));
            ok = pw_stream_connect(m_stream, PW_DIRECTION_INPUT, node,
                                   pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params,
                                   1) == 0;
        }
        pw_thread_loop_unlock(m_loop);
        return ok;
    }

    void close()
    {
        if (!m_loop)
            return;
        pw_thread_loop_lock(m_loop);
        if (m_stream)
            pw_stream_disconnect(m_stream);
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
        if (m_stream)
            pw_stream_destroy(m_stream);
        if (m_core)
            pw_core_disconnect(m_core);
        if (m_context)
            pw_context_destroy(m_context);
        pw_thread_loop_destroy(m_loop);
        m_stream = nullptr;
        m_core = nullptr;
        m_context = nullptr;
        m_loop = nullptr;
    }

private:
    void formatChanged(uint32_t id, const spa_pod *param)
    {
        if (id != SPA_PARAM_Format || !param)
            return;
        uint32_t mediaType = 0, mediaSubtype = 0;
        spa_video_info_raw info = {};
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0) {
            m_format = AV_PIX_FMT_NONE;
            return;
        }
        m_format = avFormatOf(info.format, &m_bytesPerPixel);
        m_width = int(info.size.width);
        m_height = int(info.size.height);
        TAVI_LOG_INFO("screen cast: " << m_width << "x" << m_height << " format " << info.format);
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod *params[2];
        // Shared memory; DMA-BUF only as the linear, mappable kind (no GPU import).
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf))));
        params[1] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(struct spa_meta_header))));
        pw_stream_update_params(m_stream, params, 2);
    }

    void process()
    {
        // Only the newest picture counts; older ones go straight back.
        pw_buffer *newest = nullptr;
        while (pw_buffer *next = pw_stream_dequeue_buffer(m_stream)) {
            if (newest)
                pw_stream_queue_buffer(m_stream, newest);
            newest = next;
        }
        if (!newest)
            return;
        take(newest->buffer);
        pw_stream_queue_buffer(m_stream, newest);
    }

    void take(spa_buffer *buffer)
    {
        if (m_format == AV_PIX_FMT_NONE || m_width < 2 || m_height < 2 || m_width > kMaxSide || m_height > kMaxSide ||
            buffer->n_datas < 1)
            return;
        const auto *header = static_cast<const spa_meta_header *>(
            spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))
            return;
        const spa_data &data = buffer->datas[0];
        // An empty chunk: only the cursor moved, or nothing changed.
        if (!data.chunk || data.chunk->size == 0)
            return;
        const size_t row = size_t(m_width) * size_t(m_bytesPerPixel);
        const size_t stride = data.chunk->stride > 0 ? size_t(data.chunk->stride) : row;
        const size_t offset = data.chunk->offset;
        const size_t needed = offset + stride * size_t(m_height - 1) + row;
        if (stride < row || needed > data.maxsize)
            return;
        if (data.data) {
            m_owner->pictureArrived(static_cast<const uint8_t *>(data.data) + offset, m_width, m_height, int(stride),
                                    int(row), m_format);
            return;
        }
        if (data.type != SPA_DATA_DmaBuf || data.fd < 0)
            return;
        // A DMA-BUF PipeWire did not map: read it directly when the exporter lets us.
        const size_t length = data.mapoffset + data.maxsize;
        void *map = mmap(nullptr, length, PROT_READ, MAP_SHARED, int(data.fd), 0);
        if (map == MAP_FAILED)
            return;
        dma_buf_sync sync = {DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
        ioctl(int(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
        m_owner->pictureArrived(static_cast<const uint8_t *>(map) + data.mapoffset + offset, m_width, m_height,
                                int(stride), int(row), m_format);
        sync.flags = DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ;
        ioctl(int(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
        munmap(map, length);
    }

    ScreenCast *m_owner;
    pw_thread_loop *m_loop = nullptr;
    pw_context *m_context = nullptr;
    pw_core *m_core = nullptr;
    pw_stream *m_stream = nullptr;
    spa_hook m_coreListener = {};
    spa_hook m_streamListener = {};
    int m_format = AV_PIX_FMT_NONE;
    int m_bytesPerPixel = 4;
    int m_width = 0;
    int m_height = 0;
};

ScreenCast::ScreenCast() : m_portal(new Portal) {}

ScreenCast::~ScreenCast()
{
    close();
}

bool ScreenCast::waylandSession()
{
    return !qgetenv("WAYLAND_DISPLAY").isEmpty() || qgetenv("XDG_SESSION_TYPE") == "wayland";
}

QString ScreenCast::settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/tavi/screencast.ini");
}

void ScreenCast::rememberedSize(int *width, int *height)
{
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    const int w = settings.value(QStringLiteral("ScreenCast/width")).toInt();
    const int h = settings.value(QStringLiteral("ScreenCast/height")).toInt();
    const bool known = w > 1 && h > 1 && w <= kMaxSide && h <= kMaxSide;
    *width = known ? w : kDefaultWidth;
    *height = known ? h : kDefaultHeight;
}

ScreenCast::Result ScreenCast::open(int timeoutMs)
{
    int fd = -1;
    uint32_t node = 0;
    const Result result = m_portal->open(timeoutMs, &fd, &node);
    if (result != Opened) {
        TAVI_LOG_WARN("screen cast: the portal gave no stream: " << m_portal->m_error.toUtf8().constData());
        return result;
    }
    m_stream.reset(new Stream(this));
    if (!m_stream->open(fd, node)) {
        TAVI_LOG_WARN("screen cast: PipeWire refused the stream");
        return Failed;
    }
    return Opened;
}

void ScreenCast::cancel()
{
    streamEnded();
    m_portal->cancel();
}

void ScreenCast::close()
{
    m_stream.reset();
    m_portal->close();
}

QString ScreenCast::errorText() const
{
    return m_portal->m_error;
}

void ScreenCast::copyRows(const uint8_t *data, int height, int stride, int rowBytes, std::vector<uint8_t> *into)
{
    into->resize(size_t(stride) * size_t(height));
    if (height > 0)
        std::memcpy(into->data(), data, size_t(stride) * size_t(height - 1) + size_t(rowBytes));
}

void ScreenCast::pictureArrived(const uint8_t *data, int width, int height, int stride, int rowBytes, int format)
{
    Picture picture;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        picture.data.swap(m_spare.data);
    }
    copyRows(data, height, stride, rowBytes, &picture.data);
    picture.width = width;
    picture.height = height;
    picture.stride = stride;
    picture.format = format;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::swap(m_latest, picture);
    m_spare.data.swap(picture.data);
    m_fresh = true;
}

bool ScreenCast::takePicture(Picture *into)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_fresh)
        return false;
    std::swap(*into, m_latest);
    m_fresh = false;
    return true;
}

void ScreenCast::streamEnded()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
}

bool ScreenCast::ended() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

#include "screencast_linux.moc"
