// The screen recorder window: its state table, timer label, settings file
// and a real recording started from its buttons.

#include "movingdesktop.h"
#include "recordprobe.h"
#include "testsupport.h"

#include "record/devmag.h"
#include "record/getaudiothread.h"
#include "record/getvideothread.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "record/recordwindow.h"
#include "record/recordwindowui.h"
#include "record/savevideothread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextCodec>
#include <QTime>
#include <QtTest>

#include <cstdlib>

class tst_recordwindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        recordNotice::setHandler([this](const QString &text) { m_messages << text; });
    }

    void init()
    {
        m_messages.clear();
        QFile::remove(m_conf);
    }

    void settingsRoundTrip()
    {
        const QString path = QDir::currentPath() + QStringLiteral("/录像 课堂/第一课.mp4");
        recordWindow(nullptr).chooseSavePath(path);
        const QString mic = devMag::instance()->audioDeviceName();
        QFile conf(m_conf);
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(QTextCodec::codecForName("GBK")->toUnicode(conf.readAll()),
                 QStringLiteral("audio=%1\narea=0,0,0,0\nmode=audio\nfilename=%2\n").arg(mic, path));
        // The user's settings are the user's alone.
        QCOMPARE(testsupport::fileMode(m_conf), 0600);
        QCOMPARE(testsupport::fileMode(recordWindow::confDir()), 0700);

        recordWindow again;
        QCOMPARE(again.savePathValue(), path); // "/" stays "/" and spaces stay
        QVERIFY(QDir(QDir::currentPath() + QStringLiteral("/录像 课堂")).exists());
        QCOMPARE(again.form()->comboBox_audio->currentText(), mic);
    }
    // A desktop that does not open is told in the window's own words, and
    // the window stays stopped.
    void desktopThatDoesNotOpen()
    {
        recordWindow window;
        window.chooseSavePath(QDir::currentPath() + QStringLiteral("/never.mp4"));
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":4242"); // no such display
        window.form()->startButton->click();
        qputenv("DISPLAY", display);
        QCOMPARE(m_messages, QStringList{QStringLiteral("出错了,初始化视屏设备失败！123")});
        QCOMPARE(window.state(), int(recordWindow::Stopped));
        QVERIFY(window.recorder()->isIdle());
        QVERIFY(!QFile::exists(QStringLiteral("never.mp4")));
    }

    void recordsThroughStateTable()
    {
        MovingDesktop desktop;
        recordWindow window;
        recordWindowUI *ui = window.form();
        // The state and which of start, pause and stop can be clicked.
        auto state = [&] {
            return QString("%1 %2%3%4")
                .arg(window.state())
                .arg(ui->startButton->isEnabled())
                .arg(ui->pauseButton->isEnabled())
                .arg(ui->stopButton->isEnabled());
        };
        const QString stopped = QString("%1 100").arg(recordWindow::Stopped);
        QCOMPARE(state(), stopped);
        window.chooseSavePath(QDir::currentPath() + QStringLiteral("/window.mp4"));

        QElapsedTimer recorded;
        ui->startButton->click();
        recorded.start();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(';')));
        QCOMPARE(state(), QString("%1 011").arg(recordWindow::Recording));
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_time->text(), QStringLiteral("00:00:02"), 4000);

        ui->pauseButton->click();
        qint64 recordedMs = recorded.elapsed();
        QCOMPARE(state(), QString("%1 101").arg(recordWindow::Paused));
        QVERIFY(window.recorder()->videoThread->isPaused());
        const QString pausedLabel = ui->label_time->text();
        QTest::qWait(1200);
        QCOMPARE(ui->label_time->text(), pausedLabel); // the timer stands still

        ui->startButton->click(); // resume: the label goes on from where it stood
        recorded.restart();
        QCOMPARE(window.state(), int(recordWindow::Recording));
        QVERIFY(!window.recorder()->videoThread->isPaused());
        QCOMPARE(ui->label_time->text(), pausedLabel);
        const QString next =
            QStringLiteral("00:00:%1").arg(QTime::fromString(pausedLabel).second() + 1, 2, 10, QChar('0'));
        // Every text the label shows until then.
        QStringList shown{pausedLabel};
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QString text = ui->label_time->text();
                if (shown.last() != text)
                    shown << text;
                return text == next;
            },
            3000));
        QCOMPARE(shown, (QStringList{pausedLabel, next}));

        ui->stopButton->click();
        recordedMs += recorded.elapsed();
        QCOMPARE(state(), stopped);
        QCOMPARE(ui->label_time->text(), QStringLiteral("00:00:00"));
        QVERIFY(window.recorder()->encoder->wait(15000));
        QVERIFY(window.recorder()->audioThread->wait(5000) && window.recorder()->videoThread->wait(5000));

        // The .mp4 name the dialog offers gets an MP4, and the paused second is
        // left out.
        const RecordProbe probe = probeRecording(QStringLiteral("window.mp4"));
        QCOMPARE(probe.formatName, QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2"));
        const int expected = int(recordedMs / 40);
        QVERIFY2(std::abs(probe.videoFrames - expected) <= 8,
                 qPrintable(QStringLiteral("%1 pictures, %2 expected").arg(probe.videoFrames).arg(expected)));
    }

private:
    QStringList m_messages;
    const QString m_conf = recordWindow::confDir() + QStringLiteral("/set.conf");
};

QTEST_MAIN(tst_recordwindow)
#include "tst_record_window.moc"
