// Starting the main library: the real launcher with a stand-in library, and
// the launcher's hand-off code in a child process for the failure messages.
#include "iniope.h"
#include "installdir.h"
#include "testsupport.h"
#include "winstart.h"
#include "xmlparse.h"

#include <QMessageBox>
#include <QProcess>
#include <QtTest>
#include <cstdio>

namespace {

// Child mode: answer every message box, print its text, run the hand-off
// for the given outcome and end with the event loop's status.
int runChild(int argc, char **argv)
{
    QApplication application(argc, argv);
    const int code = QString::fromLocal8Bit(argv[2]).toInt();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("box:%s\n", box->text().toUtf8().constData());
            std::fflush(stdout);
            box->accept();
        }
    });
    closer.start(20);
    xmlParse::instance()->parse("<r><taviversion ver=\"7.5\"/></r>");
    winStart starter;
    starter.slot_startMain(code);
    // A started library quits by itself; give a failing start time to end.
    QTimer::singleShot(10000, [] { QCoreApplication::exit(42); });
    const int status = QApplication::exec();
    std::printf("version:%s\nexit:%d\n", InIOpe::installedVersion().toUtf8().constData(), status);
    return status;
}

struct ChildResult {
    QStringList boxes;
    QString version;
    int exitCode = -1;
    bool started = false;
};

} // namespace

class TestHandoff : public QObject
{
    Q_OBJECT

    ChildResult child(const QString &dir, int code)
    {
        QProcess process;
        process.setWorkingDirectory(dir);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), QString::number(code)});
        ChildResult result;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split('\n')) {
            if (line.startsWith(QLatin1String("box:")))
                result.boxes << line.mid(4);
            else if (line.startsWith(QLatin1String("version:")))
                result.version = line.mid(8);
        }
        result.exitCode = process.exitCode();
        result.started = QFile::exists(dir + QStringLiteral("/mainStart.called"));
        return result;
    }

    static void install(const QString &dir, const char *library)
    {
        QVERIFY(QFile::copy(QString::fromUtf8(library), dir + QStringLiteral("/libtaviMainLib.so")));
    }

private slots:
    void outcomes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("version");
        QTest::newRow("installed") << 1 << "程序升级成功！" << "7.5";
        QTest::newRow("failed") << 2 << "程序升级失败！" << "old";
        QTest::newRow("nothing or cancelled") << 3 << "" << "7.5";
    }
    void outcomes()
    {
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, version);
        InstallDir dir;
        dir.setUpdater(QString(), QStringLiteral("old"));
        install(dir.path(), FAKELIB_OK);
        const ChildResult r = child(dir.path(), code);
        QCOMPARE(r.boxes, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(r.version, version);
        QVERIFY(r.started);
        QCOMPARE(r.exitCode, 0);
    }

    void missingLibrary()
    {
        InstallDir dir;
        const ChildResult r = child(dir.path(), 3);
        QCOMPARE(r.boxes, QStringList{QStringLiteral("libtaviMainLib.so加载失败！")});
        QCOMPARE(r.exitCode, 1);
    }

    void libraryWithoutEntry()
    {
        InstallDir dir;
        install(dir.path(), FAKELIB_NOEXPORT);
        const ChildResult r = child(dir.path(), 2);
        QCOMPARE(r.boxes, (QStringList{QStringLiteral("程序升级失败！"), QStringLiteral("mainStart函数加载失败！")}));
        QCOMPARE(r.exitCode, 1);
    }

    // The real launcher, with an update list nobody serves: it records the
    // empty list version and starts the library without showing anything.
    void launcherStartsLibrary()
    {
        InstallDir dir;
        dir.setUpdater(QStringLiteral("http://127.0.0.1:%1/list.xml").arg(testsupport::freePort()),
                       QStringLiteral("3.0"));
        install(dir.path(), FAKELIB_OK);
        QProcess tavi;
        tavi.setWorkingDirectory(dir.path());
        tavi.start(QStringLiteral(TAVI_EXE), QStringList());
        QVERIFY(tavi.waitForFinished(30000));
        QCOMPARE(tavi.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tavi.exitCode(), 0);
        QVERIFY(QFile::exists(QStringLiteral("mainStart.called")));
        QCOMPARE(InIOpe::installedVersion(), QString());
        QVERIFY(!QDir(QStringLiteral("DownLoadTmp")).exists());
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    QApplication application(argc, argv);
    TestHandoff test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launcher_handoff.moc"
