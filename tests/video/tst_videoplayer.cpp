// The live stream player on local files: its state rules, a file played to
// its end, seeking, inputs it refuses, and tavi-play's exit status.

#include "playertest.h"
#include "video/audio_play.h"
#include "video/video_play.h"
#include "video/videoplayer_thread.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace playertest;

class TestVideoPlayer : public QObject
{
    Q_OBJECT

private:
    QString m_main;      // 3 s, B-frames
    QString m_seekable;  // 4 s, GOP 12
    QString m_silent;    // no audio
    QString m_twoVideo;  // 320x240 then 160x120
    QString m_audioOnly; // AAC only

private slots:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "dummy");
        m_main = QDir::current().absoluteFilePath(QStringLiteral("main.mp4"));
        QStringList args = classArgs(3);
        args.replaceInStrings(QStringLiteral("ultrafast"), QStringLiteral("veryfast"));
        QVERIFY(testsupport::makeMedia(m_main, args));
        m_seekable = QDir::current().absoluteFilePath(QStringLiteral("seek.mp4"));
        QVERIFY(testsupport::makeMedia(m_seekable, classArgs(4)));
        m_silent = QDir::current().absoluteFilePath(QStringLiteral("silent.mp4"));
        QVERIFY(testsupport::makeMedia(m_silent, {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25", "-t", "1",
                                                  "-c:v", "libx264", "-preset", "ultrafast"}));
        m_twoVideo = QDir::current().absoluteFilePath(QStringLiteral("two.mkv"));
        QVERIFY(testsupport::makeMedia(
            m_twoVideo, {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i",
                         "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine=sample_rate=44100", "-t", "1",
                         "-map", "0:v", "-map", "1:v", "-map", "2:a", "-c:v", "libx264", "-preset", "ultrafast",
                         "-c:a", "aac"}));
        m_audioOnly = QDir::current().absoluteFilePath(QStringLiteral("tone.m4a"));
        QVERIFY(testsupport::makeMedia(m_audioOnly, {"-f", "lavfi", "-i", "sine=sample_rate=44100", "-t", "2",
                                                     "-c:a", "aac"}));
    }

    void stateRules()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        QSignalSpy states(player.get(), &VideoPlayer_Thread::sig_StateChanged);
        // Never ran: stop succeeds at once, a second stop is refused.
        QVERIFY(player->stop(true));
        QCOMPARE(player->state(), Stop);
        QVERIFY(!player->stop(true));
        // Pause on a stopped player, then play: both report success.
        QVERIFY(player->pause());
        QCOMPARE(player->state(), Pause);
        QVERIFY(player->playbackState().paused);
        QVERIFY(player->play());
        QCOMPARE(player->state(), Playing);
        QVERIFY(!player->playbackState().paused);
        // Play on a playing player is refused but clears the pause flag.
        player->pause();
        player->play();
        QVERIFY(!player->play());
        // startPlay is refused until stop.
        QVERIFY(!player->startPlay(m_main));
        QVERIFY(player->stop(true));
        QCOMPARE(states.size(), 6);
        QCOMPARE(states.at(0).at(0).value<PlayerState>(), Stop);
        QCOMPARE(states.at(1).at(0).value<PlayerState>(), Pause);
        QCOMPARE(states.at(2).at(0).value<PlayerState>(), Playing);
        QCOMPARE(states.last().at(0).value<PlayerState>(), Stop);
        // A second seek before the reader took the first is dropped.
        player->seek(1000000);
        player->seek(2000000);
        QCOMPARE(player->playbackState().seekPosition.load(), int64_t(1000000));
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
        for (int i = 1; i < pts.size(); ++i)
            QVERIFY2(pts[i] > pts[i - 1], qPrintable(QString::number(i)));
        QCOMPARE(frames.size(), QSize(320, 240));
        QVERIFY(player->playbackState().audioClock > 2.5);
        QCOMPARE(player->state(), Playing);
        QCOMPARE(total.size(), 1);
        QVERIFY(qAbs(total.first().first().toLongLong() - 3000000) < 200000);
        QVERIFY(player->stop(true));
        // A stopped player starts again.
        frames.clear();
        QVERIFY(player->startPlay(m_main));
        QVERIFY(frames.waitFor(3, 10000));
        QVERIFY(player->stop(true));
    }

    void seekShowsFirstPictureAtTarget()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        double clockAtTarget = -1;
        connect(
            player.get(), &VideoPlayer_Thread::sig_GetOneFrame, this,
            [&](const QImage &image) {
                if (clockAtTarget < 0 && image.text(QStringLiteral("pts")).toDouble() >= 2.0)
                    clockAtTarget = player->getCurrentTime();
            },
            Qt::DirectConnection);
        QVERIFY(player->startPlay(m_seekable));
        QVERIFY(frames.waitFor(1, 10000));
        player->pause();
        QTest::qWait(50);
        frames.clear();
        player->seek(2500000);
        player->play();
        QVERIFY(waitUntil([&] { return !frames.pts().isEmpty() && frames.pts().last() >= 2.6; }, 10000));
        // A picture already waiting for its turn may still come; after it,
        // the first one at or after the target.
        const QVector<double> pts = frames.pts();
        int i = 0;
        while (i < pts.size() && pts[i] < 0.5)
            ++i;
        QVERIFY(i < pts.size());
        QVERIFY2(pts[i] >= 2.5 && pts[i] < 2.5 + 0.045, qPrintable(QString::number(pts[i])));
        // Audio before the target was dropped as well.
        QVERIFY2(clockAtTarget >= 2.4, qPrintable(QString::number(clockAtTarget)));
        // Back to the start while playing.
        frames.clear();
        player->seek(0);
        const bool back = waitUntil([&] { return !frames.pts().isEmpty() && frames.pts().last() < 1.0; }, 5000);
        QString seen;
        for (double p : frames.pts())
            seen += QString::number(p) + ' ';
        QVERIFY2(back, qPrintable(seen));
        QVERIFY(player->stop(true));
    }

    void refusesInputWithoutAudio()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QSignalSpy finished(player.get(), &QThread::finished);
        QTest::ignoreMessage(QtDebugMsg, "Didn't find a audio stream.");
        QVERIFY(player->startPlay(m_silent));
        QVERIFY(finished.wait(10000));
        QCOMPARE(frames.count(), 0);
        QCOMPARE(player->state(), Playing);
        QVERIFY(player->stop(true));
    }

    void playsLastOfTwoVideoStreams()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QVERIFY(player->startPlay(m_twoVideo));
        QVERIFY(frames.waitFor(3, 10000));
        QCOMPARE(frames.size(), QSize(160, 120));
        QVERIFY(player->stop(true));
    }

    void refusesTooLongAddressWithoutCutting()
    {
        // The same file, once behind an address that fits and once behind
        // one that does not: the long one is refused, not cut to size.
        QString fits = m_main;
        while (fits.toUtf8().size() + 2 <= 1279)
            fits.insert(1, QStringLiteral("./"));
        QVERIFY(fits.toUtf8().size() <= 1279);
        const QString tooLong = QStringLiteral("/./") + fits.mid(1);
        QVERIFY(tooLong.toUtf8().size() > 1279);

        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        QSignalSpy finished(player.get(), &QThread::finished);
        QVERIFY(player->startPlay(tooLong));
        QVERIFY(finished.wait(5000));
        QCOMPARE(frames.count(), 0);
        QVERIFY(player->stop(true));
        QVERIFY(player->startPlay(fits));
        QVERIFY(frames.waitFor(2, 10000));
        QVERIFY(player->stop(true));
    }

    void stopAndRestartQuickly()
    {
        auto player = std::make_unique<VideoPlayer_Thread>();
        FrameLog frames(player.get());
        for (int i = 0; i < 5; ++i) {
            QVERIFY(player->startPlay(m_main));
            QTest::qWait(i * 60);
            QVERIFY(player->stop(i % 2 == 0));
        }
        QVERIFY(player->startPlay(m_main));
        QVERIFY(frames.waitFor(2, 10000));
        QVERIFY(player->stop(true));
        QVERIFY(player->playbackState().readerFinished);
    }

    void stopMeetsEndOfInput()
    {
        // A short clip whose end, the stop and the audio callback meet at
        // varying moments; run under AddressSanitizer this finds use after
        // free between the threads.
        const QString clip = QDir::current().absoluteFilePath(QStringLiteral("clip.mp4"));
        QVERIFY(testsupport::makeMedia(clip, classArgs(0.3, QStringLiteral("160x120"))));
        auto player = std::make_unique<VideoPlayer_Thread>();
        auto audio = std::make_unique<AudioPlayer>();
        FrameLog frames(player.get());
        for (int i = 0; i < 12; ++i) {
            QVERIFY(player->startPlay(clip));
            QVERIFY(audio->startPlay(clip));
            QTest::qWait(150 + 40 * i);
            if (i % 3 == 0)
                player->pause();
            QVERIFY(audio->stop(i % 2 == 0));
            QVERIFY(player->stop(i % 2 == 1));
        }
        QVERIFY(frames.count() > 0);
    }

};

QTEST_GUILESS_MAIN(TestVideoPlayer)
#include "tst_videoplayer.moc"
