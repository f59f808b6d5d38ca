// Starting the main library: the real launcher with a stand-in library, and
// the launcher's hand-off code in a child process for the failure messages.
#include "iniope.h"
#include "installdir.h"
#include "launcherchild.h"
#include "testsupport.h"
#include "winstart.h"
#include "xmlparse.h"

#include <QProcess>
#include <QtTest>

namespace {

// Child mode: answer every message box, run the hand-off for the given outcome and end with the event loop's status.
int childMain(int argc, char **argv)
{
    QApplication application(argc, argv);
    const int code = QString::fromLocal8Bit(argv[2]).toInt();
    answerBoxes(&application);
    xmlParse::instance()->parse("<r><taviversion ver=\"7.5\"/></r>");
    winStart starter;
    starter.slot_startMain(code);
    // A started library quits by itself; give a failing start time to end.
    QTimer::singleShot(10000, [] { QCoreApplication::exit(42); });
    return childEnds(QApplication::exec());
}

QString child(int code)
{
    return runChild({QStringLiteral("--child"), QString::number(code)}, 30000);
}

void install(const char *library)
{
    InstallDir::write("libtaviMainLib.so", InstallDir::read(library));
}

} // namespace

class TestHandoff : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        QTest::newRow("installed") << 1 << "box:程序升级成功！\nversion:7.5\nexit:0\n";
        QTest::newRow("failed") << 2 << "box:程序升级失败！\nversion:old\nexit:0\n";
        QTest::newRow("nothing or cancelled") << 3 << "version:7.5\nexit:0\n";
        QTest::newRow("refused") << 4 << "version:old\nexit:0\n";
    }
    void outcomes()
    {
        QFETCH(int, code);
        QFETCH(QString, output);
        InstallDir dir;
        dir.setUpdater(QString(), "old");
        install(FAKELIB_OK);
        QCOMPARE(child(code), output);
        QVERIFY(QFile::exists("mainStart.called"));
    }

    void brokenLibrary_data()
    {
        QTest::addColumn<QByteArray>("library"); // libtaviMainLib.so; none if empty
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("boxes");
        QTest::newRow("missing") << QByteArray() << 3 << "box:libtaviMainLib.so加载失败！\n";
        QTest::newRow("corrupt") << QByteArray("not a library at all") << 3 << "box:libtaviMainLib.so加载失败！\n";
        QTest::newRow("without mainStart")
            << InstallDir::read(FAKELIB_NOEXPORT) << 2 << "box:程序升级失败！\nbox:mainStart函数加载失败！\n";
    }
    void brokenLibrary()
    {
        QFETCH(QByteArray, library);
        QFETCH(int, code);
        QFETCH(QString, boxes);
        InstallDir dir;
        if (!library.isEmpty())
            InstallDir::write("libtaviMainLib.so", library);
        const QString out = child(code);
        QVERIFY2(out.startsWith(boxes + "version:") && out.endsWith("\nexit:1\n"), qPrintable(out));
    }

    // The real launcher, with an update list nobody serves: it records the
    // empty list version and starts the library without showing anything.
    void launcherStartsLibrary()
    {
        InstallDir dir;
        dir.setUpdater(QStringLiteral("http://127.0.0.1:%1/list.xml").arg(testsupport::freePort()), "3.0");
        install(FAKELIB_OK);
        QProcess tavi;
        tavi.start(QStringLiteral(TAVI_EXE), QStringList());
        QVERIFY(tavi.waitForFinished(30000));
        QCOMPARE(tavi.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tavi.exitCode(), 0);
        QVERIFY(QFile::exists("mainStart.called"));
        QCOMPARE(InIOpe::installedVersion(), QString());
        QVERIFY(!QDir("DownLoadTmp").exists());
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv);
    QApplication application(argc, argv);
    TestHandoff test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launcher_handoff.moc"
