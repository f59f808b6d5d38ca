#pragma once

// Shows only the pictures of an address, each at once as it decodes: no
// sound, no clock, no pacing. Set url, then start(); destroying it stops it.

#include "base/playerstate.h"
#include "video/videostate.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>

class VideoPlayer : public QThread
{
    Q_OBJECT

public:
    VideoPlayer();
    ~VideoPlayer() override;

    AVFormatContext *formatContext = nullptr;
    QString url;
    // Only rtmp:// and rtmps:// addresses, no local file (see PlayerThread).
    bool classStreamOnly = false;
    // As PlayerThread::setDisplaySize.
    void setDisplaySize(const QSize &size) { videoState.displayArea = packDisplayArea(size.width(), size.height()); }

signals:
    void sig_GetOneFrame(QImage image);
    void sig_StateChanged(PlayerState state);
    void sig_TotalTimeChanged(qint64 uSec);

protected:
    void run() override;

private:
    VideoState videoState;
    PlayerState playerState = Stop;
    std::atomic<bool> m_destroying{false};
};
