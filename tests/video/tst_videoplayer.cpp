// The live stream player on local files: a file played to its end,
// seeking, inputs it refuses, and stops racing the threads.

#include "playertest.h"
#include "video/audio_play.h"
#include "video/videoplayer_thread.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

using namespace playertest;

class TestVideoPlayer : public QObject
{
    Q_OBJECT

    QString m_main;     // 3 s, B-frames
    QString m_seekable; // 4 s, GOP 12

private slots:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "dummy");
        m_main = makeMedia(QStringLiteral("main.mp4"), classArgs(3).replaceInStrings("ultrafast", "veryfast"));
        m_seekable = makeMedia(QStringLiteral("seek.mp4"), classArgs(4));
        QVERIFY(!m_main.isEmpty() && !m_seekable.isEmpty());
    }

    // The two players keep different rules in one place: the live player
    // pauses in any state, the audio-only one only while playing.
    void stateRules()
    {
        VideoPlayer_Thread video;
        QSignalSpy states(&video, &VideoPlayer_Thread::sig_StateChanged);
        QVERIFY(video.stop(true)); // never ran: at once
        QVERIFY(!video.stop(true));
        QVERIFY(video.pause());
        QCOMPARE(video.state(), Pause);
        QVERIFY(video.play());
        QVERIFY(!video.play()); // playing already
        QVERIFY(!video.startPlay(m_main)); // refused until stopped
        QVERIFY(video.stop(true));
        QCOMPARE(states.size(), 4);
        video.seek(1000000);
        video.seek(2000000); // dropped while the first is pending
        QCOMPARE(video.playbackState().seekPosition.load(), int64_t(1000000));

        AudioPlayer audio;
        QVERIFY(!audio.pause());
        QVERIFY(audio.playbackState().paused);
        QCOMPARE(audio.state(), Stop);
        QVERIFY(audio.startPlay(m_main));
        QVERIFY(!audio.playbackState().paused);
        QVERIFY(audio.pause());
        QVERIFY(audio.play());
        QVERIFY(audio.stop(true));
        QVERIFY(!audio.stop(true));
    }

    void playsFileToItsEnd()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QSignalSpy total(player.get(), &VideoPlayer_Thread::sig_TotalTimeChanged);
        QSignalSpy finished(player.get(), &QThread::finished);
        QVERIFY(player->startPlay(m_main));
        QVERIFY(!player->startPlay(m_main));
        QVERIFY(finished.wait(15000));
        // Every picture, in order, held back by B-frames included.
        const QVector<double> pts = frames.pts();
        QCOMPARE(pts.size(), 75);
        QVERIFY(std::adjacent_find(pts.begin(), pts.end(), std::greater_equal<double>()) == pts.end());
        QVERIFY(player->playbackState().audioClock > 2.5);
        QCOMPARE(total.size(), 1);
        QVERIFY(qAbs(total.first().first().toLongLong() - 3000000) < 200000);
        QVERIFY(player->stop(true));
        // A stopped player starts again.
        QVERIFY(player->startPlay(m_main));
        QVERIFY(frames.waitFor(78, 10000));
        QVERIFY(player->stop(true));
    }

    void seekShowsFirstPictureAtTarget()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        double clockAtTarget = -1;
        connect(player.get(), &VideoPlayer_Thread::sig_GetOneFrame, this, [&](const QImage &image) {
            if (clockAtTarget < 0 && image.text(QStringLiteral("pts")).toDouble() >= 2.0)
                clockAtTarget = player->getCurrentTime();
        }, Qt::DirectConnection);
        QVERIFY(player->startPlay(m_seekable));
        QVERIFY(frames.waitFor(1, 10000));
        player->pause();
        QTest::qWait(50);
        frames.clear();
        player->seek(2500000);
        player->play();
        QVERIFY(QTest::qWaitFor([&] { return frames.last() >= 2.6; }, 10000));
        // A picture already waiting for its turn may still come; after it,
        // the first one at or after the target.
        const QVector<double> pts = frames.pts();
        const auto first = std::find_if(pts.begin(), pts.end(), [](double p) { return p >= 0.5; });
        QVERIFY(first != pts.end());
        QVERIFY2(*first >= 2.5 && *first < 2.5 + 0.045, qPrintable(QString::number(*first)));
        // Audio before the target was dropped as well.
        QVERIFY2(clockAtTarget >= 2.4, qPrintable(QString::number(clockAtTarget)));
        // Back to the start while playing.
        frames.clear();
        player->seek(0);
        QVERIFY(QTest::qWaitFor([&] { return frames.last() < 1.0; }, 5000));
        QVERIFY(player->stop(true));
    }

    void inputs_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QSize>("size"); // of the pictures shown; none: refused
        // The same file behind an address that fits 1279 bytes and behind one
        // that does not: the long one is refused, not cut to size.
        QString fits = m_main;
        while (fits.toUtf8().size() + 2 <= 1279)
            fits.insert(1, QStringLiteral("./"));
        QTest::newRow("address of 1279 bytes") << fits << QSize(320, 240);
        QTest::newRow("address over 1279 bytes") << "/./" + fits.mid(1) << QSize();
        QTest::newRow("no audio") << makeMedia(QStringLiteral("silent.mp4"),
                                               QStringLiteral("-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 "
                                                              "-c:v libx264 -preset ultrafast").split(' '))
                                  << QSize();
        // Two video streams: the last one plays.
        QTest::newRow("two video streams")
            << makeMedia(QStringLiteral("two.mkv"),
                         QStringLiteral("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i testsrc=size=160x120:rate=25 "
                                        "-f lavfi -i sine=sample_rate=44100 -t 1 -map 0:v -map 1:v -map 2:a "
                                        "-c:v libx264 -preset ultrafast -c:a aac").split(' '))
            << QSize(160, 120);
    }
    void inputs()
    {
        QFETCH(QString, input);
        QFETCH(QSize, size);
        QVERIFY(!input.isEmpty());
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QSignalSpy finished(player.get(), &QThread::finished);
        QVERIFY(player->startPlay(input));
        if (size.isValid()) {
            QVERIFY(frames.waitFor(3, 10000));
            QCOMPARE(frames.size(), size);
        } else {
            QVERIFY(finished.wait(10000));
            QCOMPARE(frames.count(), 0);
        }
        QVERIFY(player->stop(true));
    }

    void stopMeetsOpenAndEndOfInput()
    {
        // A short clip whose open, end, the stop and the audio callback meet
        // at varying moments; under AddressSanitizer this finds use after
        // free between the threads.
        const QString clip = makeMedia(QStringLiteral("clip.mp4"), classArgs(0.3, QStringLiteral("160x120")));
        QVERIFY(!clip.isEmpty());
        auto player = std::make_unique<VideoPlayer_Thread>();
        auto audio = std::make_unique<AudioPlayer>();
        FrameLog frames(player.get());
        // Never ran: stop returns at once, a second one is refused.
        QVERIFY(stopsWithin(*player, 500));
        QVERIFY(!player->stop(true));
        for (int i = 0; i < 14; ++i) {
            QVERIFY(player->startPlay(clip));
            QVERIFY(audio->startPlay(clip));
            QTest::qWait(45 * i);
            if (i % 3 == 0)
                player->pause();
            QVERIFY(audio->stop(i % 2 == 0));
            QVERIFY(player->stop(i % 2 == 1));
        }
        QVERIFY(frames.count() > 0);
        // It still plays after all that.
        frames.clear();
        QVERIFY(player->startPlay(m_main));
        QVERIFY(frames.waitFor(2, 10000));
        QVERIFY(player->stop(true));
        QVERIFY(player->playbackState().readerFinished);
    }
};

QTEST_GUILESS_MAIN(TestVideoPlayer)
#include "tst_videoplayer.moc"
