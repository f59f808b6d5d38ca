#include "video/playerthread.h"

PlayerThread::PlayerThread(VideoState &record, bool videoThread) : m_record(record), m_videoThread(videoThread)
{
    // The record is not built yet: its own initial values (not paused, both
    // finished flags set) are the ones a new player needs.
    qRegisterMetaType<PlayerState>("PlayerState");
}

void PlayerThread::quitAndWait()
{
    m_record.paused = false;
    m_record.requestQuit();
    wait();
    m_record.release();
}

bool PlayerThread::startPlay(const QString &address)
{
    if (playerState != Stop)
        return false;
    // A run told to stop without waiting may still be closing its input.
    if (isRunning())
        wait();
    url = address;
    m_record.reset();
    m_record.quit = false;
    m_record.paused = false;
    m_record.readerFinished = false;
    m_record.decoderFinished = !m_videoThread;
    beforeStart();
    playerState = Playing;
    emit sig_StateChanged(Playing);
    start(InheritPriority);
    return true;
}

bool PlayerThread::pause()
{
    m_record.paused = true;
    m_record.wake();
    if (!m_videoThread && playerState != Playing)
        return false;
    playerState = Pause;
    emit sig_StateChanged(Pause);
    return true;
}

bool PlayerThread::play()
{
    m_record.paused = false;
    m_record.wake();
    if (playerState != Pause)
        return false;
    playerState = Playing;
    emit sig_StateChanged(Playing);
    return true;
}

bool PlayerThread::stop(bool isWait)
{
    if (playerState == Stop && m_record.quit)
        return false;
    m_record.paused = false;
    m_record.requestQuit();
    playerState = Stop;
    emit sig_StateChanged(Stop);
    if (isWait) {
        VideoState &record = m_record;
        const bool videoThread = m_videoThread;
        record.wait([&] { return record.readerFinished && (record.decoderFinished || !videoThread); });
    }
    return true;
}

void PlayerThread::setVolume(int percent)
{
    m_record.volume = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
}

float PlayerThread::soundLevel() const
{
    return m_record.soundMeter.level();
}

void PlayerThread::setEchoCanceller(std::shared_ptr<EchoCanceller> canceller)
{
    std::atomic_store(&m_record.echoCanceller, std::move(canceller));
}

int PlayerThread::volume() const
{
    return m_record.volume;
}

void PlayerThread::setDisplaySize(const QSize &size)
{
    m_record.displayArea = packDisplayArea(size.width(), size.height());
}
