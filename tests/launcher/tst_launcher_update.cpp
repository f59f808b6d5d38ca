// Updating an installation from a real HTTP server: outcomes, what is
// installed, and that failures leave the installation alone.
#include "installdir.h"
#include "updatectrl.h"
#include "updateserver.h"
#include "widgets.h"
#include "xmlparse.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

struct ListFile {
    QString path;
    QByteArray body;
    UpdateServer::Mode mode = UpdateServer::Mode::Normal;
    QString checksum = {}; // defaults to the body's
};

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

    UpdateServer server;
    int listCounter = 0;

    // Publishes a list with the given files under a fresh folder and points
    // the installation in the current folder at it.
    void publish(InstallDir &dir, const QString &version, const QList<ListFile> &files)
    {
        const QString folder = QStringLiteral("rel%1/").arg(++listCounter);
        QString xml = QStringLiteral("<update><taviversion ver=\"%1\"/>").arg(version);
        for (const ListFile &f : files) {
            xml += QStringLiteral("<file ver=\"%1\" path=\"%2\"/>")
                       .arg(f.checksum.isEmpty() ? md5Hex(f.body) : f.checksum, QString(f.path).replace('/', '\\'));
            server.setFile(folder + f.path, f.body, f.mode);
        }
        server.setFile(folder + "list.xml", (xml + "</update>").toUtf8());
        dir.setUpdater(server.url(folder + "list.xml"), "1.0");
        xmlParse::instance()->reload();
    }

    // Runs an update to its outcome.
    static int update()
    {
        updateCtrl ctrl;
        QSignalSpy spy(&ctrl, &updateCtrl::s_mainSatart);
        ctrl.start();
        if (spy.isEmpty() && !spy.wait(20000))
            return -1;
        QTest::qWait(50); // a second outcome would show up here
        return spy.size() == 1 ? spy.first().first().toInt() : -100 - spy.size();
    }

private slots:
    void initTestCase() { QVERIFY(server.start()); }

    void nothingToDo()
    {
        InstallDir dir;
        publish(dir, "1.0", {{"a.txt", "new"}}); // the installed version
        QCOMPARE(update(), 3);
        QVERIFY(!QFile::exists("a.txt"));
        InstallDir::write("a.txt", "new");
        publish(dir, "2.0", {{"a.txt", "new"}}); // files up to date
        QCOMPARE(update(), 3);
        QVERIFY(!QDir("DownLoadTmp").exists());
    }

    void installsChangedFiles()
    {
        InstallDir dir;
        InstallDir::write("keep.txt", "keep");
        InstallDir::write("lib/a.so", "old a");
        InstallDir::write("same/held.txt", "keep"); // content of another listed path
        // Among them the same file name in two folders, and paths that share
        // their content with others.
        const QList<ListFile> files{{"keep.txt", "keep"}, {"lib/a.so", "new a"}, {"new/deep/b.bin", QByteArray(300 * 1024, 'x')},
                                    {"empty.txt", ""}, {"x/config.ini", "for x"}, {"y/config.ini", "for y"},
                                    {"same/held.txt", "new a"}, {"same/one.txt", "twin"}, {"same/two.txt", "twin"},
                                    {"same/keep.txt", "keep"}};
        publish(dir, "2.0", files);
        QCOMPARE(update(), 1);
        for (const ListFile &f : files)
            QCOMPARE(InstallDir::read(f.path), f.body);
        QVERIFY(!QDir("DownLoadTmp").exists());
        QVERIFY(!QFile::exists("lib/a.so.tavi_old"));
        QVERIFY(!QFile::exists("lib/a.so.tavi_new"));
    }

    void failuresInstallNothing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("wrongSum");
        QTest::addColumn<bool>("folderInTheWay");
        QTest::newRow("connection breaks half-way") << int(UpdateServer::Mode::BreakHalfway) << false << false;
        QTest::newRow("http 404") << int(UpdateServer::Mode::NotFound) << false << false;
        QTest::newRow("content differs from its checksum") << int(UpdateServer::Mode::Normal) << true << false;
        QTest::newRow("folder where a file goes") << int(UpdateServer::Mode::Normal) << false << true;
    }
    void failuresInstallNothing()
    {
        QFETCH(int, mode);
        QFETCH(bool, wrongSum);
        QFETCH(bool, folderInTheWay);
        InstallDir dir;
        InstallDir::write("a.txt", "old a");
        const QString b = folderInTheWay ? "b.txt/inside" : "b.txt";
        InstallDir::write(b, "old b");
        publish(dir, "2.0", {{"a.txt", "new a"}, {"b.txt", QByteArray(200 * 1024, 'b'), UpdateServer::Mode(mode),
                                                  wrongSum ? md5Hex("something else") : QString()}});
        QCOMPARE(update(), 2);
        QTest::qWait(300); // the other transfer may still land in the temporary folder
        QCOMPARE(InstallDir::read("a.txt"), QByteArray("old a"));
        QCOMPARE(InstallDir::read(b), QByteArray("old b"));
        QVERIFY(!QFile::exists("a.txt.tavi_old"));
        QVERIFY(!QFile::exists("a.txt.tavi_new"));
    }

    void pathsOutsideAreRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("climbs") << "../escaped.txt";
        QTest::newRow("climbs with backslashes") << "sub\\..\\..\\escaped.txt";
        QTest::newRow("absolute") << "/tmp/tavi-escaped.txt";
    }
    void pathsOutsideAreRefused()
    {
        QFETCH(QString, path);
        InstallDir dir;
        QDir().mkpath("inst");
        QDir::setCurrent("inst");
        publish(dir, "2", {{"ok.txt", "ok"}, {path, "evil"}});
        const int before = server.requests();
        QCOMPARE(update(), 2);
        QCOMPARE(server.requests(), before); // nothing fetched
        QVERIFY(!QFile::exists("ok.txt"));
        QVERIFY(!QFile::exists("../escaped.txt"));
        QVERIFY(!QFile::exists("/tmp/tavi-escaped.txt"));
    }

    void cancelInstallsNothing()
    {
        InstallDir dir;
        InstallDir::write("a.txt", "old a");
        publish(dir, "2.0", {{"a.txt", "new a"}, {"slow.bin", QByteArray(64 * 1024, 's'), UpdateServer::Mode::Stall}});
        updateCtrl ctrl;
        QSignalSpy spy(&ctrl, &updateCtrl::s_mainSatart);
        ctrl.start();
        QProgressDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = testsupport::topLevels<QProgressDialog>().value(0)) && dialog->isVisible());
        dialog->findChild<QPushButton *>()->click();
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().first().toInt(), 3);
        QVERIFY(!dialog->isVisible());
        // The stalled transfer ends later; its result changes nothing.
        server.release();
        QTest::qWait(800);
        QCOMPARE(spy.size(), 1);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(InstallDir::read("a.txt"), QByteArray("old a"));
        QVERIFY(!QFile::exists("slow.bin"));
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_launcher_update.moc"
