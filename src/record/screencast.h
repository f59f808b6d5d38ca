#pragma once

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The desktop of a Wayland session, taken through the desktop portal's
// ScreenCast and a PipeWire stream (x11grab sees only XWayland's windows
// there). The portal's exchange and the stream run off the GUI thread: the
// capture thread calls open() and waits there, for as long as the user
// takes over the portal's dialog the first time.
class ScreenCast
{
public:
    enum Result {
        Opened,
        // No portal, or one without ScreenCast.
        Missing,
        // The user cancelled or refused the portal's dialog.
        Refused,
        // The portal or PipeWire failed otherwise (or cancel() came).
        Failed
    };

    // One picture as the compositor sent it: packed RGB of 3 or 4 bytes a
    // pixel. format is an AVPixelFormat.
    struct Picture
    {
        std::vector<uint8_t> data;
        int width = 0;
        int height = 0;
        int stride = 0;
        int format = -1;
    };

    ScreenCast();
    ~ScreenCast();
    ScreenCast(const ScreenCast &) = delete;
    ScreenCast &operator=(const ScreenCast &) = delete;

    // Whether the desktop belongs to a Wayland session: WAYLAND_DISPLAY is
    // set or XDG_SESSION_TYPE says wayland.
    static bool waylandSession();
    // The size of the monitor the user chose last time (remembered with the
    // portal's restore token), or 1920x1080 before the first time.
    static void rememberedSize(int *width, int *height);
    // Where the choice is remembered.
    static QString settingsPath();

    // Asks the portal for the monitor (the remembered one without a dialog
    // when it still exists) and connects its PipeWire stream. Blocks up to
    // timeoutMs, or until cancel().
    Result open(int timeoutMs);
    // Ends a waiting open() at once (and any later one), and the stream.
    // Any thread; a cancelled object is not opened again.
    void cancel();
    // Stream and portal session closed. Called by the thread that opened.
    void close();

    // Swaps in the newest picture when one came since the last call;
    // false when none came. Any one thread.
    bool takePicture(Picture *into);
    // Whether the stream ended (the user stopped sharing, the compositor
    // went away).
    bool ended() const;

    // The portal's error text of the last open() (for the log).
    QString errorText() const;

    // Copies height rows of rowBytes, stride apart, into into (resized to
    // stride * height). The last row's padding is not read: a buffer may end
    // with its last pixel.
    static void copyRows(const uint8_t *data, int height, int stride, int rowBytes, std::vector<uint8_t> *into);

private:
    class Portal;
    class Stream;
    friend class Stream;

    void pictureArrived(const uint8_t *data, int width, int height, int stride, int rowBytes, int format);
    void streamEnded();

    std::unique_ptr<Portal> m_portal;
    std::unique_ptr<Stream> m_stream;
    mutable std::mutex m_mutex;
    Picture m_latest;
    Picture m_spare;
    bool m_fresh = false;
    bool m_ended = false;
};
