// The installation's two command-line tools: tavi-record publishes a moving
// desktop to nginx-rtmp, tavi-play shows it. (The clients' own class road is
// driven end to end through their windows in tests/e2e.)
#include "movingdesktop.h"
#include "nginxrtmp.h"
#include "publisher.h"

#include <QProcess>
#include <QtTest>

class TestClassRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio session of ./run test");
    }

    void toolsPublishAndPlay()
    {
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        MovingDesktop desktop;
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));
        const QString stage = testsupport::stageDir();
        const QString address = nginx.url(QStringLiteral("course2"));
        QProcess record;
        record.setWorkingDirectory(stage);
        record.start(stage + QStringLiteral("/tavi-record"),
                     {address, QStringLiteral("--seconds"), QStringLiteral("12")});
        QVERIFY(record.waitForStarted());
        QVERIFY(testsupport::waitForCodecs(address, {"aac", "h264"}, 20000));

        QProcess play;
        play.setWorkingDirectory(stage);
        play.start(stage + QStringLiteral("/tavi-play"),
                   {address, QStringLiteral("--frames"), QStringLiteral("50"), QStringLiteral("--stats")});
        // The GUI thread keeps painting the moving desktop meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(play.state() == QProcess::NotRunning, 30000);
        const QString stats = QString::fromUtf8(play.readAllStandardOutput());
        QCOMPARE(play.exitStatus(), QProcess::NormalExit);
        QVERIFY2(play.exitCode() == 0, qPrintable(stats + play.readAllStandardError()));
        QVERIFY2(stats.contains(QLatin1String("pictures: 50\n")), qPrintable(stats));

        QTRY_VERIFY_WITH_TIMEOUT(record.state() == QProcess::NotRunning, 30000);
        QCOMPARE(record.exitCode(), 0);
    }
};

QTEST_MAIN(TestClassRoundTrip)
#include "tst_classroundtrip.moc"
