// The player on a live class published into a real nginx-rtmp server: fast
// start, stopping while the server is silent, and coming back after the
// server dropped the class.

#include "nginxrtmp.h"
#include "playertest.h"
#include "video/audio_play.h"
#include "video/videoplayer_thread.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace playertest;

class TestLivePlayer : public QObject
{
    Q_OBJECT

private:
    testsupport::NginxRtmp m_server;
    QProcess m_publisher;
    QString m_url;

    bool publish()
    {
        m_publisher.kill();
        m_publisher.waitForFinished(3000);
        QStringList args{"-loglevel", "error", "-re"};
        args << classArgs(600);
        args << QStringList{"-tune", "zerolatency", "-f", "flv", m_url};
        m_publisher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_publisher.start(QStringLiteral("ffmpeg"), args);
        if (!m_publisher.waitForStarted(5000))
            return false;
        // Published once ffprobe sees both streams.
        return waitUntil([&] { return testsupport::probe(m_url, 10000).value("streams").toArray().size() == 2; },
                         20000);
    }

private slots:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "dummy");
        QVERIFY(m_server.start());
        m_url = m_server.url(QStringLiteral("class1"));
        QVERIFY(publish());
    }

    void cleanupTestCase()
    {
        m_publisher.kill();
        m_publisher.waitForFinished(3000);
        m_server.stop();
    }

    void playsLiveClass()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QSignalSpy total(player.get(), &VideoPlayer_Thread::sig_TotalTimeChanged);
        QVERIFY(player->startPlay(m_url));
        QVERIFY(frames.waitFor(25, 15000));
        QCOMPARE(frames.size(), QSize(320, 240));
        QCOMPARE(total.size(), 1);
        QVERIFY(player->getCurrentTime() > 0);
        QVERIFY(player->stop(true));
    }

    // Key frames 2 s apart: a joining student gets the sound well before the
    // next key frame, long after a brief probe has ended.
    void joinsWhenSoundComesFirst()
    {
        const QString url = m_server.url(QStringLiteral("sparsekeys"));
        QProcess publisher;
        QStringList args{"-loglevel", "error", "-re"};
        args << classArgs(60);
        args.replace(args.indexOf(QStringLiteral("12")), QStringLiteral("50"));
        args << QStringList{"-sc_threshold", "0", "-tune", "zerolatency", "-f", "flv", url};
        publisher.start(QStringLiteral("ffmpeg"), args);
        QVERIFY(publisher.waitForStarted(5000));
        QVERIFY(waitUntil([&] { return testsupport::probe(url, 10000).value("streams").toArray().size() == 2; },
                          20000));
        for (int join = 0; join < 3; ++join) {
            auto player = std::make_unique<VideoPlayer_Thread>();
            FrameLog frames(player.get());
            QVERIFY(player->startPlay(url));
            QVERIFY2(frames.waitFor(5, 15000), qPrintable(QStringLiteral("join %1").arg(join)));
            QVERIFY(player->stop(true));
            QTest::qWait(700); // join at another point of the key frame interval
        }
        publisher.kill();
        publisher.waitForFinished(3000);
    }

    void stopWhileServerIsSilent()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QVERIFY(player->startPlay(m_url));
        QVERIFY(frames.waitFor(5, 15000));
        m_server.freeze();
        QTest::qWait(500);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(player->stop(true));
        const qint64 reading = timer.elapsed();
        // And while the open itself blocks on the silent server.
        QVERIFY(player->startPlay(m_url));
        QTest::qWait(300);
        timer.restart();
        QVERIFY(player->stop(true));
        const qint64 opening = timer.elapsed();
        m_server.thaw();
        QVERIFY2(reading < 2000, qPrintable(QString::number(reading)));
        QVERIFY2(opening < 2000, qPrintable(QString::number(opening)));
    }

    void comesBackAfterServerDrop()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QVERIFY(player->startPlay(m_url));
        QVERIFY(frames.waitFor(10, 15000));
        QVERIFY(m_server.restart());
        QVERIFY(publish());
        frames.clear();
        // Reads fail for 3 s, then the input is reopened every 3 s.
        QVERIFY(frames.waitFor(25, 25000));
        QCOMPARE(player->state(), Playing);
        QVERIFY(player->stop(true));
    }
};

QTEST_GUILESS_MAIN(TestLivePlayer)
#include "tst_liveplayer.moc"
