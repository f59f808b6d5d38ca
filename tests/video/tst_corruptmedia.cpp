// Fifty truncated, corrupted or hostile variants of small class recordings:
// the players must neither crash nor hang on any of them.

#include "playertest.h"
#include "video/audio_play.h"
#include "video/videoplayer_thread.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>

using namespace playertest;

class TestCorruptMedia : public QObject
{
    Q_OBJECT

private:
    QByteArray m_mp4;
    QByteArray m_flv;

    QString write(const QString &name, const QByteArray &data)
    {
        const QString path = QDir::current().absoluteFilePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        file.write(data);
        return path;
    }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "dummy");
        QStringList args = classArgs(0.6, QStringLiteral("160x120"));
        QVERIFY(testsupport::makeMedia(QStringLiteral("base.mp4"), args + QStringList{"-movflags", "+faststart"}));
        QVERIFY(testsupport::makeMedia(QStringLiteral("base.flv"), args));
        m_mp4 = readAll(QStringLiteral("base.mp4"));
        m_flv = readAll(QStringLiteral("base.flv"));
        QVERIFY(m_mp4.size() > 2000 && m_flv.size() > 2000);
    }

    void variants_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("suffix");
        QRandomGenerator random(20261206);
        const QByteArray bases[2] = {m_mp4, m_flv};
        const QString suffixes[2] = {QStringLiteral("mp4"), QStringLiteral("flv")};
        int n = 0;
        auto add = [&](const QByteArray &data, const QString &suffix) {
            QTest::newRow(qPrintable(QStringLiteral("v%1.%2").arg(n++, 2, 10, QChar('0')).arg(suffix)))
                << data << suffix;
        };
        // Truncated at ten points.
        for (int i = 0; i < 10; ++i) {
            const QByteArray &base = bases[i % 2];
            add(base.left(int(base.size() * (i + 1) / 12.0)), suffixes[i % 2]);
        }
        // Random bytes overwritten, from a handful to many.
        for (int i = 0; i < 24; ++i) {
            QByteArray data = bases[i % 2];
            const int hits = 2 + i * i;
            const int from = i < 12 ? 0 : 200;
            for (int h = 0; h < hits; ++h)
                data[from + random.bounded(data.size() - from)] = char(random.bounded(256));
            add(data, suffixes[i % 2]);
        }
        // Zeroed and duplicated stretches.
        for (int i = 0; i < 6; ++i) {
            QByteArray data = bases[i % 2];
            const int at = random.bounded(data.size() / 2);
            if (i < 3)
                data.replace(at, 512, QByteArray(512, '\0'));
            else
                data.insert(at, data.mid(at / 2, 4096));
            add(data, suffixes[i % 2]);
        }
        // Sizes and counts in the headers set to extremes.
        for (int i = 0; i < 6; ++i) {
            QByteArray data = bases[i % 2];
            for (int p = 8 + i; p < 400 && p + 4 < data.size(); p += 37)
                data.replace(p, 4, QByteArray("\x7f\xff\xff\xff", 4));
            add(data, suffixes[i % 2]);
        }
        // Nothing, noise, and a bare header.
        add(QByteArray(), QStringLiteral("mp4"));
        QByteArray noise(64 * 1024, '\0');
        for (char &c : noise)
            c = char(random.bounded(256));
        add(noise, QStringLiteral("flv"));
        add(m_flv.left(13), QStringLiteral("flv"));
        add(m_mp4.left(40) + noise, QStringLiteral("mp4"));
    }

    void variants()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, suffix);
        const QString path = write(QStringLiteral("variant.") + suffix, data);
        QVERIFY(!path.isEmpty());
        const int row = QString::fromLatin1(QTest::currentDataTag()).mid(1, 2).toInt();

        auto player = std::make_unique<VideoPlayer_Thread>();
        player->setSync(row % 3 != 2);
        FrameLog frames(player.get());
        QSignalSpy finished(player.get(), &QThread::finished);
        QVERIFY(player->startPlay(path));
        finished.wait(1500);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(player->stop(true));
        QVERIFY2(timer.elapsed() < 3000, "stop hung");

        if (row % 5 == 0) {
            auto audio = std::make_unique<AudioPlayer>();
            QVERIFY(audio->startPlay(path));
            QTest::qWait(300);
            timer.restart();
            QVERIFY(audio->stop(true));
            QVERIFY2(timer.elapsed() < 3000, "audio stop hung");
        }
    }
};

QTEST_GUILESS_MAIN(TestCorruptMedia)
#include "tst_corruptmedia.moc"
