// The screen recorder window: its state table, timer label, settings file,
// microphone list and a real recording started from its buttons.

#include "movingdesktop.h"
#include "recordprobe.h"
#include "sound.h"
#include "testsupport.h"

#include "record/devmag.h"
#include "record/getaudiothread.h"
#include "record/getvideothread.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "record/recordwindow.h"
#include "record/recordwindowui.h"
#include "record/savevideothread.h"
#include "ui/messagebox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
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
        QVERIFY(m_micA.isLoaded() && m_micB.isLoaded());
        QVERIFY(testsupport::run("pactl", {"set-default-source", m_micB.name()}));
    }

    void cleanupTestCase() { testsupport::run("pactl", {"set-default-source", "tavi_null.monitor"}); }

    // By description, the system's default first and chosen, the speakers'
    // monitors marked and last.
    void microphoneList()
    {
        recordWindow window;
        QComboBox *box = window.form()->comboBox_audio;
        QCOMPARE(box->currentIndex(), 0);
        QStringList texts, names;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i), names << box->itemData(i).toString();
        QCOMPARE(texts.mid(0, 2), (QStringList{"MicB", "MicA"}));
        QCOMPARE(names.mid(0, 2), (QStringList{m_micB.name(), m_micA.name()}));
        const int firstMonitor = names.indexOf(QRegularExpression(".*\\.monitor"));
        QVERIFY(firstMonitor > 1);
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(names[i].endsWith(".monitor"), i >= firstMonitor);
            QCOMPARE(texts[i].startsWith("[扬声器] "), i >= firstMonitor);
        }
        QVERIFY(texts.contains("[扬声器] Monitor of tavi_rec_a"));
    }

    void init()
    {
        m_messages.clear();
        QFile::remove(m_conf);
    }

    void settingsRoundTrip()
    {
        const QString path = QDir::currentPath() + QStringLiteral("/录像 课堂/第一课.mp4");
        {
            recordWindow first;
            // Not the default: the choice is kept.
            first.form()->comboBox_audio->setCurrentText("MicA");
            first.chooseSavePath(path);
        }
        const QString mic = QStringLiteral("MicA");
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
    // A desktop that does not open, or a machine without sound sources, is
    // told in the window's own words, and the window stays stopped.
    void devicesThatDoNotOpen_data()
    {
        QTest::addColumn<QString>("missing");
        QTest::addColumn<QString>("message");
        QTest::newRow("desktop") << "desktop" << QStringLiteral("出错了,初始化视屏设备失败！123");
        QTest::newRow("sound source") << "sound" << QStringLiteral("出错了,音频或视频设备未就绪，程序无法运行！");
    }
    void devicesThatDoNotOpen()
    {
        QFETCH(QString, missing);
        QFETCH(QString, message);
        // A device manager on an input device that lists nothing.
        struct NoSound : devMag
        {
            NoSound() : devMag(QString(), QString(), QStringLiteral("no-such-device"), nullptr) {}
        } noSound;
        devMag *const previous = devMag::instance();
        if (missing == "sound")
            devMag::setInstance(&noSound);
        recordWindow window;
        devMag::setInstance(previous);
        if (missing == "sound")
            QCOMPARE(window.form()->comboBox_audio->count(), 0);
        window.chooseSavePath(QDir::currentPath() + QStringLiteral("/never.mp4"));
        const QByteArray display = qgetenv("DISPLAY");
        if (missing == "desktop")
            qputenv("DISPLAY", ":4242"); // no such display
        window.form()->startButton->click();
        qputenv("DISPLAY", display);
        QCOMPARE(m_messages, QStringList{message});
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
        // The chosen source is the one recorded, not the default.
        ui->comboBox_audio->setCurrentText("MicA");
        testsupport::Tone toneA, toneB;
        QVERIFY(toneA.start(m_sinkA.name(), 440) && toneB.start(m_sinkB.name(), 1000));
        QVERIFY(testsupport::waitForTone(m_micA.name(), 440, 10000));

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

        // Started again at once: the window waits for the last file to close
        // in the event loop, then records.
        window.chooseSavePath(QDir::currentPath() + QStringLiteral("/again.mp4"));
        ui->startButton->click();
        QVERIFY(window.state() == recordWindow::Recording || window.recorder()->isStartPending());
        QTRY_COMPARE_WITH_TIMEOUT(window.state(), int(recordWindow::Recording), 15000);
        QVERIFY(m_messages.isEmpty());
        // Closing while recording asks; "取消" keeps recording, "确定" stops.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const char *button : {"cancelBtn", "okBtn"}) {
            window.requestClose();
            auto *box = window.findChild<MessageBox *>();
            QVERIFY(box && box->isVisible());
            QTest::mouseClick(box->findChild<QWidget *>(button), Qt::LeftButton);
            QVERIFY(!box->isVisible());
            QCOMPARE(window.isVisible(), QByteArray(button) == "cancelBtn");
        }
        QCOMPARE(state(), stopped);
        // "回放" once the file is whole.
        QSignalSpy playBack(&window, &recordWindow::s_playBack);
        QTRY_VERIFY_WITH_TIMEOUT(ui->pushButton_playBack->isEnabled(), 15000);
        ui->pushButton_playBack->click();
        QCOMPARE(playBack.count(), 1);
        QCOMPARE(playBack[0][0].toString(), QDir::currentPath() + QStringLiteral("/again.mp4"));
        QVERIFY(window.recorder()->isIdle());

        // The .mp4 name the dialog offers gets an MP4, and the paused second is
        // left out.
        const RecordProbe probe = probeRecording(QStringLiteral("window.mp4"));
        QCOMPARE(probe.formatName, QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2"));
        const int expected = int(recordedMs / 40);
        QVERIFY2(std::abs(probe.videoFrames - expected) <= 8,
                 qPrintable(QStringLiteral("%1 pictures, %2 expected").arg(probe.videoFrames).arg(expected)));
        const double share = testsupport::toneShare(testsupport::samplesOf({"-i", "window.mp4"}), 440);
        QVERIFY2(share > 0.8, qPrintable(QString::number(share)));
    }

private:
    testsupport::NullSink m_sinkA{"tavi_rec_a"}, m_sinkB{"tavi_rec_b"};
    testsupport::Microphone m_micA{"tavi_rec_a_in", m_sinkA, "MicA"}, m_micB{"tavi_rec_b_in", m_sinkB, "MicB"};
    QStringList m_messages;
    const QString m_conf = recordWindow::confDir() + QStringLiteral("/set.conf");
};

QTEST_MAIN(tst_recordwindow)
#include "tst_record_window.moc"
