// The monitors of a wide Xvfb display (3840x1080) split in two with xrandr: how they are listed, which one a
// remembered choice gives, and that a recording (through the controller and through the screen recorder window) holds
// the chosen monitor's picture and nothing of the other one.

#include "twomonitors.h"

#include "testsupport.h"

#include "record/getvideothread.h"
#include "record/monitors.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "recorder/recordwindow.h"
#include "recorder/recordwindowui.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QColor kLeftColour(220, 30, 30);
const QColor kRightColour(30, 60, 220);
const QRect kLeft(0, 0, 1920, 1080);
const QRect kRight(1920, 0, 1920, 1080);

int indexOf(const QVector<Monitor> &list, const QString &name)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].name == name)
            return i;
    return -1;
}

QSize videoSize(const QString &file)
{
    for (const QJsonValue &stream : testsupport::probe(file).value("streams").toArray())
        if (stream.toObject().value("codec_type").toString() == "video")
            return QSize(stream.toObject().value("width").toInt(), stream.toObject().value("height").toInt());
    return QSize();
}
} // namespace

class tst_recordmonitors : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        recordNotice::setHandler([this](const QString &text) { m_messages << text; });
    }

    void init() { m_messages.clear(); }

    // Before any split the screen is one monitor; a display that does not open is the whole screen all the same.
    void wholeScreen()
    {
        const QVector<Monitor> list = monitors::list();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].rect, QRect(0, 0, 3840, 1080));
        QVERIFY(!list[0].name.isEmpty());

        const QVector<Monitor> none = monitors::list(":9999");
        QCOMPARE(none.size(), 1);
        QVERIFY(none[0].rect.isEmpty());
        QCOMPARE(monitors::resolve(none, QStringLiteral("right")), 0);
    }

    void twoMonitors()
    {
        QVERIFY(twomonitors::split("right"));
        const QVector<Monitor> list = monitors::list();
        QCOMPARE(list.size(), 2);
        const int left = indexOf(list, QStringLiteral("left"));
        const int right = indexOf(list, QStringLiteral("right"));
        QVERIFY(left >= 0 && right >= 0);
        QCOMPARE(left, 0); // left to right, the primary wherever it lies
        QCOMPARE(list[left].rect, kLeft);
        QCOMPARE(list[right].rect, kRight);
        QVERIFY(list[right].primary);
        QVERIFY(!list[left].primary);
    }

    // A remembered monitor that is there is the one; one that is gone (or none) gives the primary, else the first.
    void fallbacks()
    {
        QVERIFY(twomonitors::split("right"));
        QVector<Monitor> list = monitors::list();
        const int left = indexOf(list, QStringLiteral("left"));
        const int right = indexOf(list, QStringLiteral("right"));
        QCOMPARE(monitors::resolve(list, QStringLiteral("left")), left);
        QCOMPARE(monitors::resolve(list, QStringLiteral("right")), right);
        QCOMPARE(monitors::resolve(list, QStringLiteral("gone")), right);
        QCOMPARE(monitors::resolve(list, QString()), right);
        QVERIFY(monitors::contains(list, QStringLiteral("left")));
        QVERIFY(!monitors::contains(list, QStringLiteral("gone")));
        QVERIFY(!monitors::contains(list, QString()));

        QVERIFY(twomonitors::split(QString()));
        list = monitors::list();
        QCOMPARE(list.size(), 2);
        QCOMPARE(monitors::resolve(list, QStringLiteral("gone")), 0);
        QCOMPARE(monitors::resolve(list, QStringLiteral("right")), indexOf(list, QStringLiteral("right")));

        // The primary is found wherever it is in the list.
        const QVector<Monitor> made{
            {"a", QRect(0, 0, 10, 10), false}, {"b", QRect(10, 0, 10, 10), false}, {"c", QRect(20, 0, 10, 10), true}};
        QCOMPARE(monitors::resolve(made, QStringLiteral("x")), 2);
        QCOMPARE(monitors::resolve(made, QStringLiteral("b")), 1);
        QCOMPARE(monitors::resolve({}, QStringLiteral("b")), -1);
    }

    // What the server says is clipped to the screen: a monitor reaching past it is cut at its edge, one beyond it is
    // left out, a long name is cut short.
    void hostileMonitors()
    {
        QVERIFY(twomonitors::split("right"));
        const QString longName(100, QLatin1Char('n'));
        QVERIFY(twomonitors::xrandr({"--setmonitor", longName, "1920/508x1080/286+2880+0", "none"}));
        QVERIFY(twomonitors::xrandr({"--setmonitor", "beyond", "100/10x100/10+5000+0", "none"}));
        const QVector<Monitor> list = monitors::list();
        twomonitors::xrandr({"--delmonitor", longName});
        twomonitors::xrandr({"--delmonitor", "beyond"});
        QCOMPARE(list.size(), 3);
        QCOMPARE(indexOf(list, QStringLiteral("beyond")), -1);
        const int cut = indexOf(list, QString(monitors::kMaxNameLength, QLatin1Char('n')));
        QVERIFY(cut >= 0);
        QCOMPARE(list[cut].rect, QRect(2880, 0, 960, 1080));
    }

    // In the user's settings folder, the user's alone; a hand-made overlong name is none.
    void remembersTheChoice()
    {
        QVERIFY(monitors::settingsPath().startsWith(m_config.path() + '/'));
        QVERIFY(monitors::remembered().isEmpty());
        monitors::remember(QStringLiteral("right"));
        QCOMPARE(monitors::remembered(), QStringLiteral("right"));
        QCOMPARE(testsupport::fileMode(monitors::settingsPath()), 0600);
        QCOMPARE(testsupport::fileMode(QFileInfo(monitors::settingsPath()).absolutePath()), 0700);
        {
            QSettings settings(monitors::settingsPath(), QSettings::IniFormat);
            settings.setValue("Monitor/name", QString(500, QLatin1Char('x')));
        }
        QVERIFY(monitors::remembered().isEmpty());
        QFile::remove(monitors::settingsPath());
    }

    void recordsTheChosenMonitor_data()
    {
        QTest::addColumn<QString>("monitor");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("right") << "right" << kRightColour;
        QTest::newRow("left") << "left" << kLeftColour;
    }

    // 1920x1080 of the chosen monitor's colour, nothing of the other one's.
    void recordsTheChosenMonitor()
    {
        QFETCH(QString, monitor);
        QFETCH(QColor, colour);
        QVERIFY(twomonitors::split("right"));
        const QVector<Monitor> list = monitors::list();
        const int chosen = indexOf(list, monitor);
        QVERIFY(chosen >= 0);

        recordCtrl ctrl;
        const QString file = monitor + QStringLiteral(".flv");
        ctrl.setUrl(file);
        ctrl.setCaptureArea(list[chosen].rect);
        QImage lastPreview;
        connect(
            &ctrl, &recordCtrl::sig_preview, this, [&](const QImage &picture) { lastPreview = picture; },
            Qt::QueuedConnection);
        QSignalSpy previews(&ctrl, &recordCtrl::sig_preview);
        ctrl.setPreview(96, 54, 100);
        QVERIFY(ctrl.start(0));
        QCOMPARE(ctrl.pictureSize(), QSize(1920, 1080));
        QTRY_VERIFY_WITH_TIMEOUT(previews.count() >= 15, 20000);
        ctrl.stop();
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(twomonitors::pixelsNotOf(lastPreview, colour), 0);

        QCOMPARE(videoSize(file), QSize(1920, 1080));
        const QImage picture = twomonitors::frameOf(file, QStringLiteral("0.5"));
        QCOMPARE(picture.size(), QSize(1920, 1080));
        QCOMPARE(twomonitors::pixelsNotOf(picture, colour), 0);
    }

    // The recorder window's box: the remembered monitor selected, the user's choice remembered and recorded; hidden
    // with one monitor.
    void recorderWindowChoosesTheMonitor()
    {
        QVERIFY(twomonitors::split("right"));
        monitors::remember(QStringLiteral("left"));
        recordWindow window;
        QFile::remove(QStringLiteral("window.mp4")); // an earlier run's: replacing it would be asked
        window.chooseSavePath(QDir::current().absoluteFilePath(QStringLiteral("window.mp4")));
        window.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QComboBox *box = window.form()->comboBox_monitor;
        QVERIFY(box->isVisible());
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->currentData().toString(), QStringLiteral("left"));
        QCOMPARE(window.captureArea(), kLeft);

        // The user picks the other one with the keyboard.
        box->setFocus();
        QTest::keyClick(box, box->currentIndex() == 0 ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(box->currentData().toString(), QStringLiteral("right"));
        QCOMPARE(monitors::remembered(), QStringLiteral("right"));
        QCOMPARE(window.captureArea(), kRight);

        QSignalSpy started(window.recorder(), &recordCtrl::s_startFinished);
        QSignalSpy previews(window.recorder(), &recordCtrl::sig_preview);
        window.recorder()->setPreview(96, 54, 100);
        QTest::mouseClick(window.form()->startButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 15000);
        QVERIFY2(started.at(0).at(0).toBool(), qPrintable(m_messages.join('\n')));
        QTRY_VERIFY_WITH_TIMEOUT(previews.count() >= 15, 20000);
        QTest::mouseClick(window.form()->stopButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.recorder()->isIdle(), 15000);
        QCOMPARE(videoSize(QStringLiteral("window.mp4")), QSize(1920, 1080));
        QCOMPARE(twomonitors::pixelsNotOf(twomonitors::frameOf(QStringLiteral("window.mp4"), QStringLiteral("0.5")),
                                          kRightColour),
                 0);

        // A monitor gone since it was listed: the primary, silently.
        QVERIFY(twomonitors::split(QString()));
        twomonitors::xrandr({"--delmonitor", "right"});
        QVERIFY(twomonitors::xrandr({"--setmonitor", "*other", "1920/508x1080/286+1920+0", "none"}));
        QCOMPARE(window.captureArea(), kRight);
        QVERIFY(m_messages.isEmpty());
        twomonitors::xrandr({"--delmonitor", "other"});

        // One monitor: no box.
        twomonitors::xrandr({"--delmonitor", "left"});
        window.hide();
        window.show();
        QTRY_VERIFY(!box->isVisible());
        QCOMPARE(window.captureArea(), QRect());
    }

private:
    QTemporaryDir m_config;
    QStringList m_messages;
};

int main(int argc, char **argv)
{
    // The wide display must be there before the application connects to it.
    if (!twomonitors::useWideDisplay())
        return 1;
    QApplication app(argc, argv);
    // Each half its own colour, for the whole run.
    twomonitors::Patch left(kLeft, kLeftColour);
    twomonitors::Patch right(kRight, kRightColour);
    tst_recordmonitors test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record_monitors.moc"
