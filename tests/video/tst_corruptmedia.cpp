// Fifty truncated, corrupted or hostile variants of small class recordings:
// the players must neither crash nor hang on any of them.

#include "playertest.h"
#include "video/audio_play.h"
#include "video/videoplayer_thread.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace playertest;

class TestCorruptMedia : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("SDL_AUDIODRIVER", "dummy"); }

    void variants_data()
    {
        QTest::addColumn<QByteArray>("data"); // the row's name ends in the file's suffix
        const QStringList args = classArgs(0.6, QStringLiteral("160x120"));
        const QByteArray bases[2] = {
            testsupport::readFile(makeMedia(QStringLiteral("base.mp4"), args + QStringList{"-movflags", "+faststart"})),
            testsupport::readFile(makeMedia(QStringLiteral("base.flv"), args))};
        QVERIFY(bases[0].size() > 2000 && bases[1].size() > 2000);
        const QString suffixes[2] = {QStringLiteral("mp4"), QStringLiteral("flv")};
        QRandomGenerator random(20261206);
        int n = 0;
        auto add = [&](const QByteArray &data, int base) {
            QTest::newRow(qPrintable(QStringLiteral("v%1.%2").arg(n++, 2, 10, QChar('0')).arg(suffixes[base]))) << data;
        };
        // Truncated at ten points.
        for (int i = 0; i < 10; ++i)
            add(bases[i % 2].left(int(bases[i % 2].size() * (i + 1) / 12.0)), i % 2);
        // Random bytes overwritten, from a handful to many.
        for (int i = 0; i < 24; ++i) {
            QByteArray data = bases[i % 2];
            const int from = i < 12 ? 0 : 200;
            for (int h = 0; h < 2 + i * i; ++h)
                data[from + random.bounded(data.size() - from)] = char(random.bounded(256));
            add(data, i % 2);
        }
        // Zeroed and duplicated stretches.
        for (int i = 0; i < 6; ++i) {
            QByteArray data = bases[i % 2];
            const int at = random.bounded(data.size() / 2);
            if (i < 3)
                data.replace(at, 512, QByteArray(512, '\0'));
            else
                data.insert(at, data.mid(at / 2, 4096));
            add(data, i % 2);
        }
        // Sizes and counts in the headers set to extremes.
        for (int i = 0; i < 6; ++i) {
            QByteArray data = bases[i % 2];
            for (int p = 8 + i; p < 400 && p + 4 < data.size(); p += 37)
                data.replace(p, 4, QByteArray("\x7f\xff\xff\xff", 4));
            add(data, i % 2);
        }
        // Nothing, noise, and a bare header.
        QByteArray noise(64 * 1024, '\0');
        for (char &c : noise)
            c = char(random.bounded(256));
        add(QByteArray(), 0);
        add(noise, 1);
        add(bases[1].left(13), 1);
        add(bases[0].left(40) + noise, 0);
    }

    void variants()
    {
        QFETCH(QByteArray, data);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const int row = tag.mid(1, 2).toInt();
        const QString path = QDir::current().absoluteFilePath(QStringLiteral("variant") + tag.mid(3));
        QVERIFY(testsupport::writeFile(path, data));

        VideoPlayer_Thread player;
        player.setSync(row % 3 != 2);
        FrameLog frames(&player); // a receiver on the video thread, as in the client
        QSignalSpy finished(&player, &QThread::finished);
        QVERIFY(player.startPlay(path));
        finished.wait(1500);
        QVERIFY(stopsWithin(player, 3000));
        if (row % 5 == 0) {
            AudioPlayer audio;
            QVERIFY(audio.startPlay(path));
            QTest::qWait(300); // stopped while it plays
            QVERIFY(stopsWithin(audio, 3000));
        }
    }
};

QTEST_GUILESS_MAIN(TestCorruptMedia)
#include "tst_corruptmedia.moc"
