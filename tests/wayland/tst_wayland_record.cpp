// tavi-record on a Wayland desktop: the desktop portal's dialog (the chooser
// of the session's portal backend) is answered, cancelled, left open while
// the recording is stopped, or not asked again once a choice is remembered;
// the output is painted one colour after another and the published stream
// must show them in that order.

#include "nginxrtmp.h"
#include "peerprocess.h"
#include "publisher.h"
#include "testsupport.h"

#include <QProcessEnvironment>
#include <QtTest>

namespace {
enum Colour {
    Red,
    Green,
    Blue,
    Other
};
const char *const kColours[] = {"#ff0000", "#00ff00", "#0000ff"};

Colour classify(const uchar *rgb)
{
    for (int c = 0; c < 3; ++c) {
        bool match = true;
        for (int i = 0; i < 3; ++i)
            match = match && qAbs(int(rgb[i]) - (i == c ? 255 : 0)) < 48;
        if (match)
            return Colour(c);
    }
    return Other;
}

bool paint(Colour colour)
{
    return testsupport::run(QStringLiteral("swaymsg"), {"output", "HEADLESS-1", "bg", kColours[colour], "solid_color"});
}

void answerDialog(const QString &choice)
{
    QFile file(qEnvironmentVariable("TAVI_WAYLAND_CHOICE"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(choice.toUtf8());
}
} // namespace

class tst_waylandrecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("TAVI_WAYLAND_SKIP"))
            QSKIP(qPrintable(QStringLiteral("no Wayland desktop: ") + qEnvironmentVariable("TAVI_WAYLAND_SKIP")));
        QVERIFY(m_nginx.start());
    }

    // Rows run in order: the choice of "chosen" is the one "remembered" restores.
    void shareDesktop_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("withPortal");
        QTest::addColumn<QString>("message");
        QTest::newRow("no portal") << "HEADLESS-1" << false << QStringLiteral("出错了,桌面不提供屏幕共享");
        QTest::newRow("cancelled") << "cancel" << true << QStringLiteral("出错了,屏幕共享被取消或拒绝！");
        // Stopped while the dialog is open: ends without waiting for it, and says nothing.
        QTest::newRow("stopped while asked") << "" << true << QString();
        QTest::newRow("chosen") << "HEADLESS-1" << true << QString();
        QTest::newRow("remembered") << "cancel" << true << QString();
    }

    void shareDesktop()
    {
        QFETCH(QString, choice);
        QFETCH(bool, withPortal);
        QFETCH(QString, message);
        answerDialog(choice);
        QVERIFY(paint(Red));
        const QString url = m_nginx.url(QStringLiteral("wayland%1").arg(++m_run));
        testsupport::PeerProcess record;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!withPortal)
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        record.setProcessEnvironment(env);
        record.setWorkingDirectory(testsupport::stageDir());
        record.start(testsupport::stageDir() + QStringLiteral("/tavi-record"), {url, "--seconds", "120"});
        QVERIFY(record.waitForStarted());

        if (choice.isEmpty()) {
            const QString asked = qEnvironmentVariable("TAVI_WAYLAND_CHOICE") + QStringLiteral(".asked");
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(asked), 15000);
            record.terminate();
            // Well within the dialog's 30 s.
            QVERIFY(record.waitForFinished(15000));
            QCOMPARE(record.exitCode(), 0);
            QVERIFY(QFile::exists(asked));
            QVERIFY(!QString::fromUtf8(record.readAllStandardError()).contains(QStringLiteral("出错了")));
            return;
        }
        if (!message.isEmpty()) {
            // Told at once, and nothing published: never a black class.
            QVERIFY(record.waitForFinished(30000));
            QCOMPARE(record.exitCode(), 1);
            const QString errors = QString::fromUtf8(record.readAllStandardError());
            QVERIFY2(errors.contains(message), qPrintable(errors));
            QVERIFY(testsupport::codecs(url, 3000).isEmpty());
            return;
        }

        QVERIFY(testsupport::waitForCodecs(url, {"aac", "h264"}));
        // The centre of each decoded picture, as one RGB pixel.
        testsupport::PeerProcess player;
        player.start(QStringLiteral("ffmpeg"),
                     {"-hide_banner", "-loglevel", "error", "-nostdin", "-i", url, "-an", "-vf",
                      "crop=32:32:iw/2-16:ih/2-16,scale=1:1", "-pix_fmt", "rgb24", "-f", "rawvideo", "pipe:1"});
        QVERIFY(player.waitForStarted());
        QVector<Colour> seen;
        const auto decoded = [&](Colour colour, int count) {
            while (player.bytesAvailable() >= 3) {
                const QByteArray pixel = player.read(3);
                seen << classify(reinterpret_cast<const uchar *>(pixel.constData()));
            }
            return seen.count(colour) >= count;
        };
        // A still desktop sends one picture; the class goes on at 25 a second.
        QTRY_VERIFY_WITH_TIMEOUT(decoded(Red, 50), 30000);
        QVERIFY(paint(Green));
        QTRY_VERIFY_WITH_TIMEOUT(decoded(Green, 25), 15000);
        QVERIFY(paint(Blue));
        QTRY_VERIFY_WITH_TIMEOUT(decoded(Blue, 25), 15000);
        player.stop();

        // Each colour in turn, none back after the next: runs of a few
        // pictures of another colour are the encoder settling.
        QVector<Colour> order;
        for (int i = 0; i < seen.size();) {
            int end = i;
            while (end < seen.size() && seen[end] == seen[i])
                ++end;
            if (seen[i] != Other && end - i > 3 && (order.isEmpty() || order.last() != seen[i]))
                order << seen[i];
            i = end;
        }
        QCOMPARE(order, (QVector<Colour>{Red, Green, Blue}));

        record.terminate();
        QVERIFY(record.waitForFinished(30000));
        QCOMPARE(record.exitCode(), 0);
    }

private:
    testsupport::NginxRtmp m_nginx;
    int m_run = 0;
};

QTEST_GUILESS_MAIN(tst_waylandrecord)
#include "tst_wayland_record.moc"
