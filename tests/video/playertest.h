#pragma once

// Helpers shared by the player tests: fixtures made with the ffmpeg command
// line and a collector of the pictures a player emits.

#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMutex>
#include <QTest>
#include <QVector>

#include <cmath>

namespace playertest {

// Picture stamps and sizes as they leave the player's video thread.
class FrameLog : public QObject
{
public:
    template<class Player> explicit FrameLog(Player *player)
    {
        QObject::connect(
            player, &Player::sig_GetOneFrame, this,
            [this](const QImage &image) {
                QMutexLocker lock(&m_mutex);
                m_pts.append(image.text(QStringLiteral("pts")).toDouble());
                m_size = image.size();
                if (m_first.isNull())
                    m_first = image;
            },
            Qt::DirectConnection);
    }

    QVector<double> pts() const
    {
        QMutexLocker lock(&m_mutex);
        return m_pts;
    }
    int count() const { return pts().size(); }
    // NaN while nothing came, so that any comparison with it fails.
    double last() const
    {
        const auto p = pts();
        return p.isEmpty() ? NAN : p.last();
    }
    QSize size() const
    {
        QMutexLocker lock(&m_mutex);
        return m_size;
    }
    QImage first() const
    {
        QMutexLocker lock(&m_mutex);
        return m_first;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_pts.clear();
        m_first = QImage();
    }
    bool waitFor(int pictures, int timeoutMs) const
    {
        return QTest::qWaitFor([&] { return count() >= pictures; }, timeoutMs);
    }

private:
    mutable QMutex m_mutex;
    QVector<double> m_pts;
    QSize m_size;
    QImage m_first;
};

// Whether stop(true) succeeded within the time.
template<class Player> bool stopsWithin(Player &player, int ms)
{
    QElapsedTimer timer;
    timer.start();
    return player.stop(true) && timer.elapsed() < ms;
}

// A file in the current folder made with ffmpeg; empty on failure.
inline QString makeMedia(const QString &name, const QStringList &args)
{
    const QString path = QDir::current().absoluteFilePath(name);
    return testsupport::makeMedia(path, args) ? path : QString();
}
inline QString makeMedia(const QString &name, const QString &args)
{
    return makeMedia(name, args.split(' '));
}

// A test picture with a tone: 25 pictures a second, AAC.
inline QStringList classArgs(double seconds, const QString &size = QStringLiteral("320x240"), int gop = 12)
{
    return QStringLiteral("-f lavfi -i testsrc2=size=%1:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
                          "-t %2 -c:v libx264 -preset ultrafast -g %3 -pix_fmt yuv420p -c:a aac")
        .arg(size)
        .arg(seconds)
        .arg(gop)
        .split(' ');
}

} // namespace playertest
