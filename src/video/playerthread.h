#pragma once

// What the live and the audio-only player share: the three signals, the
// play state and the start/pause/play/stop rules over the playback record
// that their threads read.

#include "base/playerstate.h"
#include "video/videostate.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QThread>

class PlayerThread : public QThread
{
    Q_OBJECT

public:
    // Refused unless stopped; waits for a run that is still closing.
    bool startPlay(const QString &url);
    bool pause();
    bool play();
    // With isWait, returns once the reader and the decoding thread are done.
    bool stop(bool isWait);
    PlayerState state() const { return playerState; }
    // A player of class streams opens only rtmp:// and rtmps:// addresses;
    // any other player also opens a local file. For later startPlay calls.
    void setClassStreamOnly(bool only) { m_classStreamOnly = only; }
    bool classStreamOnly() const { return m_classStreamOnly; }
    // 0 (silent) to 100 (as decoded); takes effect at once and stays for
    // later runs.
    void setVolume(int percent);
    int volume() const;
    // How loud its sound is, 0 to 1, before the volume.
    float soundLevel() const;
    // Hands what it plays to a canceller (null: to none); at once.
    void setEchoCanceller(std::shared_ptr<EchoCanceller> canceller);
    // The area its pictures are shown in, in device pixels: they come
    // converted to fit it in proportion. Takes effect with the next picture
    // and stays for later runs; an empty size: their own size.
    void setDisplaySize(const QSize &size);

signals:
    void sig_GetOneFrame(QImage image);
    void sig_StateChanged(PlayerState state);
    void sig_TotalTimeChanged(qint64 uSec);
    // From the reader: the input opened and gives data (true), a live input
    // stopped giving any and is being reopened (false), or gives again.
    void sig_inputFlowing(bool flowing);

protected:
    // record: the subclass's playback record (only stored here). A player
    // with a video thread pauses in any state and its stop(true) also waits
    // for that thread; the audio-only player pauses only while playing.
    PlayerThread(VideoState &record, bool videoThread);
    // Subclasses call this first in their destructor, while run() can still
    // use their members.
    void quitAndWait();
    // Last settings before the thread starts.
    virtual void beforeStart() {}

    QString url;
    PlayerState playerState = Stop;

private:
    VideoState &m_record;
    const bool m_videoThread;
    bool m_classStreamOnly = false;
};
