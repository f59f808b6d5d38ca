// The screen recorder window: its state table, timer label, settings file
// and a real recording started from its buttons.

#include "movingdesktop.h"
#include "recordprobe.h"

#include "record/devmag.h"
#include "record/getaudiothread.h"
#include "record/getvideothread.h"
#include "record/recordnotice.h"
#include "record/recordwindow.h"
#include "record/recordwindowui.h"
#include "record/savevideothread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextCodec>
#include <QtTest>

#include <cstdlib>

namespace {
QString confFile()
{
    return recordWindow::confDir() + QStringLiteral("/set.conf");
}

QString readConf()
{
    QFile file(confFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QTextCodec::codecForName("GBK")->toUnicode(file.readAll());
}

} // namespace

class tst_recordwindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void settingsRoundTrip();
    void timerLabel();
    void recordsThroughStateTable();

private:
    QStringList m_messages;
};

void tst_recordwindow::initTestCase()
{
    recordNotice::setHandler([this](const QString &text) { m_messages << text; });
}

void tst_recordwindow::init()
{
    m_messages.clear();
    QFile::remove(confFile());
}

void tst_recordwindow::settingsRoundTrip()
{
    const QString path = QDir::currentPath() + QStringLiteral("/录像 课堂/第一课.mp4");
    {
        recordWindow window;
        QVERIFY(window.form()->widget_extern->isHidden());
        QVERIFY(!window.form()->pushButton_playBack->isEnabled());
        window.chooseSavePath(path);
        QCOMPARE(window.form()->lineEdit_filename->text(), path);
    }
    const QString mic = devMag::instance()->audioDeviceName();
    const QString expected = QStringLiteral("audio=%1\narea=0,0,0,0\nmode=audio\nfilename=%2\n").arg(mic, path);
    QCOMPARE(readConf(), expected);

    recordWindow again;
    QCOMPARE(again.savePathValue(), path); // "/" stays "/" and spaces stay
    QVERIFY(QDir(QDir::currentPath() + QStringLiteral("/录像 课堂")).exists());
    QCOMPARE(again.form()->comboBox_audio->currentText(), mic);
}

void tst_recordwindow::timerLabel()
{
    recordWindow window;
    QLabel *label = window.form()->label_time;
    QCOMPARE(label->text(), QStringLiteral("00:00:00"));
    window.slotTimerTimeOut();
    QCOMPARE(label->text(), QStringLiteral("00:00:01"));
    window.setElapsedSeconds(3600 + 59 * 60 + 58);
    window.slotTimerTimeOut();
    QCOMPARE(label->text(), QStringLiteral("01:59:59"));
    window.setElapsedSeconds(100 * 3600 - 1);
    window.slotTimerTimeOut();
    QCOMPARE(label->text(), QStringLiteral("00:00:00")); // hours show their last two digits
}

namespace {
class NoDevices : public devMag
{
public:
    NoDevices() : devMag(QString(), QString(), QStringLiteral("pulse"), nullptr) {}
};
} // namespace

void tst_recordwindow::recordsThroughStateTable()
{
    MovingDesktop desktop;
    recordWindow window;
    recordWindowUI *ui = window.form();
    auto buttons = [ui] {
        return QString("%1%2%3").arg(ui->startButton->isEnabled()).arg(ui->pauseButton->isEnabled()).arg(ui->stopButton->isEnabled());
    };
    QCOMPARE(window.state(), int(recordWindow::Stopped));
    QCOMPARE(buttons(), QStringLiteral("100"));
    window.chooseSavePath(QDir::currentPath() + QStringLiteral("/window.mp4"));

    QElapsedTimer recorded;
    ui->startButton->click();
    recorded.start();
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(';')));
    QCOMPARE(window.state(), int(recordWindow::Recording));
    QCOMPARE(buttons(), QStringLiteral("011"));
    QTRY_COMPARE_WITH_TIMEOUT(ui->label_time->text(), QStringLiteral("00:00:02"), 4000);

    ui->pauseButton->click();
    qint64 recordedMs = recorded.elapsed();
    QCOMPARE(window.state(), int(recordWindow::Paused));
    QCOMPARE(buttons(), QStringLiteral("101"));
    QVERIFY(window.videoThread->isPaused());
    const QString pausedLabel = ui->label_time->text();
    QTest::qWait(1200);
    QCOMPARE(ui->label_time->text(), pausedLabel); // the timer stands still

    ui->startButton->click(); // resume: the label counts again from zero
    recorded.restart();
    QCOMPARE(window.state(), int(recordWindow::Recording));
    QVERIFY(!window.videoThread->isPaused());
    QTRY_COMPARE_WITH_TIMEOUT(ui->label_time->text(), QStringLiteral("00:00:01"), 3000);

    ui->stopButton->click();
    recordedMs += recorded.elapsed();
    QCOMPARE(window.state(), int(recordWindow::Stopped));
    QCOMPARE(buttons(), QStringLiteral("100"));
    QCOMPARE(ui->label_time->text(), QStringLiteral("00:00:00"));
    QVERIFY(window.encoder->wait(15000));
    QVERIFY(window.audioThread->wait(5000) && window.videoThread->wait(5000));

    const RecordProbe probe = probeRecording(QStringLiteral("window.mp4"));
    QCOMPARE(probe.formatName, QStringLiteral("flv"));
    QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
    QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
    // The paused second is left out.
    const int expected = int(recordedMs / 40);
    QVERIFY2(std::abs(probe.videoFrames - expected) <= 8,
             qPrintable(QStringLiteral("%1 pictures, %2 expected").arg(probe.videoFrames).arg(expected)));
}

QTEST_MAIN(tst_recordwindow)
#include "tst_record_window.moc"
