#pragma once

// Helpers shared by the player tests: fixtures made with the ffmpeg command
// line and a collector of the pictures a player emits.

#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QTest>
#include <QVector>

namespace playertest {

// Picture stamps and sizes as they leave the player's video thread.
class FrameLog : public QObject
{
public:
    template <class Player>
    explicit FrameLog(Player *player)
    {
        QObject::connect(
            player, &Player::sig_GetOneFrame, this,
            [this](const QImage &image) {
                QMutexLocker lock(&m_mutex);
                m_pts.append(image.text(QStringLiteral("pts")).toDouble());
                m_size = image.size();
            },
            Qt::DirectConnection);
    }

    int count() const
    {
        QMutexLocker lock(&m_mutex);
        return m_pts.size();
    }
    QVector<double> pts() const
    {
        QMutexLocker lock(&m_mutex);
        return m_pts;
    }
    QSize size() const
    {
        QMutexLocker lock(&m_mutex);
        return m_size;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_pts.clear();
    }
    bool waitFor(int pictures, int timeoutMs) const
    {
        QElapsedTimer timer;
        timer.start();
        while (count() < pictures && timer.elapsed() < timeoutMs)
            QTest::qWait(20);
        return count() >= pictures;
    }

private:
    mutable QMutex m_mutex;
    QVector<double> m_pts;
    QSize m_size;
};

inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// A test picture with a tone: 25 pictures a second, GOP 12, AAC.
inline QStringList classArgs(double seconds, const QString &size = QStringLiteral("320x240"),
                             const QString &audio = QStringLiteral("sine=frequency=440:sample_rate=44100"))
{
    return {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("testsrc2=size=%1:rate=25").arg(size), QStringLiteral("-f"), QStringLiteral("lavfi"),
            QStringLiteral("-i"), audio, QStringLiteral("-t"), QString::number(seconds),
            QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"),
            QStringLiteral("-g"), QStringLiteral("12"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
            QStringLiteral("-c:a"), QStringLiteral("aac")};
}

inline QString taviPlay()
{
    return testsupport::stageDir() + QStringLiteral("/tavi-play");
}

} // namespace playertest
