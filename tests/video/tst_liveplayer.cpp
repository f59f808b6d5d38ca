// The player on a live class published into a real nginx-rtmp server:
// joining between key frames, stopping while the server is silent, and
// coming back after the server dropped or stalled the class.

#include "nginxrtmp.h"
#include "playertest.h"
#include "publisher.h"
#include "video/videoplayer_thread.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace playertest;

class TestLivePlayer : public QObject
{
    Q_OBJECT

    testsupport::NginxRtmp m_server;
    testsupport::Publisher m_publisher;
    QString m_url;

    // (Re)starts publishing a class; done once ffprobe sees its streams.
    static bool publish(testsupport::Publisher &publisher, const QString &url, int gop = 12, bool sound = true)
    {
        using P = testsupport::Publisher;
        return publisher.start(url, QStringLiteral("320x240"), sound ? P::PictureAndSound : P::PictureOnly, gop) &&
            testsupport::waitForCodecs(url, sound ? QStringList{"aac", "h264"} : QStringList{"h264"}, 20000);
    }

private slots:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "dummy");
        QVERIFY(m_server.start());
        m_url = m_server.url(QStringLiteral("class1"));
        QVERIFY(publish(m_publisher, m_url));
    }

    // Key frames 2 s apart: a joining student gets the sound well before the
    // next key frame, long after a brief probe has ended.
    void joinsWhenSoundComesFirst()
    {
        const QString url = m_server.url(QStringLiteral("sparsekeys"));
        testsupport::Publisher publisher;
        QVERIFY(publish(publisher, url, 50));
        for (int join = 0; join < 3; ++join) {
            auto player = std::make_unique<VideoPlayer_Thread>();
            FrameLog frames(player.get());
            QVERIFY(player->startPlay(url));
            QVERIFY2(frames.waitFor(5, 15000), qPrintable(QStringLiteral("join %1").arg(join)));
            QVERIFY(player->stop(true));
            QTest::qWait(700); // join at another point of the key frame interval
        }
    }

    void stopWhileServerIsSilent()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QVERIFY(player->startPlay(m_url));
        QVERIFY(frames.waitFor(5, 15000));
        m_server.freeze();
        QTest::qWait(500); // the reader blocks on the silent server meanwhile
        const bool reading = stopsWithin(*player, 2000);
        // And while the open itself blocks on the silent server.
        QVERIFY(player->startPlay(m_url));
        QTest::qWait(300); // the open blocks meanwhile
        const bool opening = stopsWithin(*player, 2000);
        m_server.thaw();
        QVERIFY(reading);
        QVERIFY(opening);
    }

    // A class, with or without sound (then on the wall clock), comes back
    // after the server dropped it; one that stalled (the server froze for
    // 2.5 s and then sent all it held at once) is not played late from then
    // on: what piled up is dropped and the class shows near its live edge.
    void recovers_data()
    {
        QTest::addColumn<bool>("stall");
        QTest::addColumn<bool>("sound");
        QTest::newRow("drop, with sound") << false << true;
        QTest::newRow("drop, pictures only") << false << false;
        QTest::newRow("stall, with sound") << true << true;
        QTest::newRow("stall, pictures only") << true << false;
    }
    void recovers()
    {
        QFETCH(bool, stall);
        QFETCH(bool, sound);
        const QString url =
            m_server.url(QString::fromLatin1(QTest::currentDataTag()).remove(QRegularExpression("\\W")));
        testsupport::Publisher publisher;
        QElapsedTimer published;
        published.start();
        QVERIFY(publish(publisher, url, 12, sound));
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QSignalSpy flowing(player.get(), &PlayerThread::sig_inputFlowing);
        QVERIFY(player->startPlay(url));
        QVERIFY(frames.waitFor(25, 15000));
        QCOMPARE(frames.size(), QSize(320, 240));
        QCOMPARE(player->playbackState().audioStreamIndex >= 0, sound);
        if (stall) {
            // Behind the publisher's clock; its own start (under a second) counts too.
            const auto behind = [&] { return published.elapsed() / 1000.0 - frames.last(); };
            m_server.freeze();
            QTest::qWait(2500); // the stall measured
            m_server.thaw();
            QTRY_VERIFY2_WITH_TIMEOUT(behind() < 1.2, qPrintable(QStringLiteral("%1 s behind").arg(behind())), 8000);
            QTest::qWait(2000); // and it stays near the edge
            QVERIFY2(behind() < 1.2, qPrintable(QStringLiteral("%1 s behind").arg(behind())));
        } else {
            QVERIFY(m_server.restart());
            QVERIFY(publish(publisher, url, 12, sound));
            frames.clear();
            // Reads fail for 3 s, then the input is reopened every 2 s.
            QVERIFY(frames.waitFor(25, 25000));
            // The player told of the loss and of the return, once each.
            QList<bool> told;
            for (const QList<QVariant> &args : flowing)
                told << args.at(0).toBool();
            QCOMPARE(told, (QList<bool>{true, false, true}));
        }
        QCOMPARE(player->state(), Playing);
        QVERIFY(player->stop(true));
    }
};

QTEST_GUILESS_MAIN(TestLivePlayer)
#include "tst_liveplayer.moc"
