// Updating an installation from a real HTTP server: outcomes, what is
// installed, and that failures leave the installation alone.
#include "downloadmanager.h"
#include "installdir.h"
#include "updatectrl.h"
#include "updateserver.h"
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

    UpdateServer *server = nullptr;
    int listCounter = 0;

    // Publishes a list with the given files under a fresh folder and points
    // the installation at it.
    void publish(InstallDir &dir, const QString &version, const QList<ListFile> &files,
                 const QString &installed = QStringLiteral("1.0"))
    {
        const QString folder = QStringLiteral("rel%1/").arg(++listCounter);
        QString xml = QStringLiteral("<update><taviversion ver=\"%1\"/>").arg(version);
        for (const ListFile &f : files) {
            const QString sum = f.checksum.isEmpty() ? md5Hex(f.body) : f.checksum;
            QString listed = f.path;
            xml += QStringLiteral("<file ver=\"%1\" path=\"%2\"/>").arg(sum, listed.replace('/', '\\'));
            server->setFile(folder + f.path, f.body, f.mode);
        }
        xml += QStringLiteral("</update>");
        server->setFile(folder + QStringLiteral("list.xml"), xml.toUtf8());
        dir.setUpdater(server->url(folder + QStringLiteral("list.xml")), installed);
        xmlParse::instance()->reload();
    }

    // Runs an update to its outcome.
    static int update(updateCtrl &ctrl, int timeoutMs = 20000)
    {
        QSignalSpy spy(&ctrl, &updateCtrl::s_mainSatart);
        ctrl.start();
        if (spy.isEmpty() && !spy.wait(timeoutMs))
            return -1;
        QTest::qWait(50); // a second outcome would show up here
        return spy.size() == 1 ? spy.first().first().toInt() : -100 - spy.size();
    }

private slots:
    void initTestCase()
    {
        server = new UpdateServer;
        QVERIFY(server->start());
    }
    void cleanupTestCase()
    {
        delete server;
    }

    void sameVersionDoesNothing()
    {
        InstallDir dir;
        publish(dir, QStringLiteral("1.0"), {{QStringLiteral("a.txt"), "new"}});
        updateCtrl ctrl;
        QCOMPARE(update(ctrl), 3);
        QVERIFY(!QFile::exists(QStringLiteral("a.txt")));
    }

    void upToDateFilesDoNothing()
    {
        InstallDir dir;
        InstallDir::write(QStringLiteral("a.txt"), "same");
        publish(dir, QStringLiteral("2.0"), {{QStringLiteral("a.txt"), "same"}});
        updateCtrl ctrl;
        QCOMPARE(update(ctrl), 3);
        QVERIFY(!QDir(QStringLiteral("DownLoadTmp")).exists());
    }

    void installsChangedFiles()
    {
        InstallDir dir;
        InstallDir::write(QStringLiteral("keep.txt"), "keep");
        InstallDir::write(QStringLiteral("lib/a.so"), "old a");
        const QByteArray big(300 * 1024, 'x');
        publish(dir, QStringLiteral("2.0"),
                {{QStringLiteral("keep.txt"), "keep"},
                 {QStringLiteral("lib/a.so"), "new a"},
                 {QStringLiteral("new/deep/b.bin"), big},
                 {QStringLiteral("empty.txt"), QByteArray()}});
        updateCtrl ctrl;
        QCOMPARE(update(ctrl), 1);
        QCOMPARE(InstallDir::read(QStringLiteral("lib/a.so")), QByteArray("new a"));
        QCOMPARE(InstallDir::read(QStringLiteral("new/deep/b.bin")), big);
        QCOMPARE(InstallDir::read(QStringLiteral("empty.txt")), QByteArray());
        QCOMPARE(InstallDir::read(QStringLiteral("keep.txt")), QByteArray("keep"));
        QVERIFY(!QDir(QStringLiteral("DownLoadTmp")).exists());
        QVERIFY(!QFile::exists(QStringLiteral("lib/a.so.tavi_old")));
        QVERIFY(!QFile::exists(QStringLiteral("lib/a.so.tavi_new")));
    }

    void sameNameInTwoFolders()
    {
        InstallDir dir;
        publish(dir, QStringLiteral("2.0"),
                {{QStringLiteral("x/config.ini"), "for x"}, {QStringLiteral("y/config.ini"), "for y"}});
        updateCtrl ctrl;
        QCOMPARE(update(ctrl), 1);
        QCOMPARE(InstallDir::read(QStringLiteral("x/config.ini")), QByteArray("for x"));
        QCOMPARE(InstallDir::read(QStringLiteral("y/config.ini")), QByteArray("for y"));
    }

    void failuresInstallNothing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("wrongSum");
        QTest::newRow("connection breaks half-way") << int(UpdateServer::Mode::BreakHalfway) << false;
        QTest::newRow("http 404") << int(UpdateServer::Mode::NotFound) << false;
        QTest::newRow("content differs from its checksum") << int(UpdateServer::Mode::Normal) << true;
    }
    void failuresInstallNothing()
    {
        QFETCH(int, mode);
        QFETCH(bool, wrongSum);
        InstallDir dir;
        InstallDir::write(QStringLiteral("a.txt"), "old a");
        InstallDir::write(QStringLiteral("b.txt"), "old b");
        ListFile bad{QStringLiteral("b.txt"), QByteArray(200 * 1024, 'b'), UpdateServer::Mode(mode)};
        if (wrongSum)
            bad.checksum = md5Hex("something else");
        publish(dir, QStringLiteral("2.0"), {{QStringLiteral("a.txt"), "new a"}, bad});
        updateCtrl ctrl;
        QCOMPARE(update(ctrl), 2);
        QTest::qWait(300); // the other transfer may still land in the temporary folder
        QCOMPARE(InstallDir::read(QStringLiteral("a.txt")), QByteArray("old a"));
        QCOMPARE(InstallDir::read(QStringLiteral("b.txt")), QByteArray("old b"));
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
        QDir().mkpath(QStringLiteral("inst"));
        QDir::setCurrent(QStringLiteral("inst"));
        const QString xml = QStringLiteral("<r><taviversion ver=\"2\"/><file ver=\"%1\" path=\"ok.txt\"/>"
                                           "<file ver=\"%2\" path=\"%3\"/></r>")
                                .arg(md5Hex("ok"), md5Hex("evil"), path);
        const QString folder = QStringLiteral("evil%1/").arg(++listCounter);
        server->setFile(folder + QStringLiteral("list.xml"), xml.toUtf8());
        server->setFile(folder + QStringLiteral("ok.txt"), "ok");
        const int before = server->requests();
        dir.setUpdater(server->url(folder + QStringLiteral("list.xml")), QStringLiteral("1"));
        xmlParse::instance()->reload();
        updateCtrl ctrl;
        QCOMPARE(update(ctrl), 2);
        QCOMPARE(server->requests(), before + 1); // only the list was fetched
        QVERIFY(!QFile::exists(QStringLiteral("ok.txt")));
        QVERIFY(!QFile::exists(QStringLiteral("../escaped.txt")));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/tavi-escaped.txt")));
    }

    void unreplaceableTargetKeepsEverything()
    {
        InstallDir dir;
        InstallDir::write(QStringLiteral("a.txt"), "old a");
        InstallDir::write(QStringLiteral("z.txt/inside"), "a folder where a file should go");
        publish(dir, QStringLiteral("2.0"), {{QStringLiteral("a.txt"), "new a"}, {QStringLiteral("z.txt"), "new z"}});
        updateCtrl ctrl;
        QCOMPARE(update(ctrl), 2);
        QCOMPARE(InstallDir::read(QStringLiteral("a.txt")), QByteArray("old a"));
        QCOMPARE(InstallDir::read(QStringLiteral("z.txt/inside")), QByteArray("a folder where a file should go"));
        QVERIFY(!QFile::exists(QStringLiteral("a.txt.tavi_old")));
        QVERIFY(!QFile::exists(QStringLiteral("a.txt.tavi_new")));
    }

    void cancelInstallsNothing()
    {
        InstallDir dir;
        InstallDir::write(QStringLiteral("a.txt"), "old a");
        publish(dir, QStringLiteral("2.0"),
                {{QStringLiteral("a.txt"), "new a"},
                 {QStringLiteral("slow.bin"), QByteArray(64 * 1024, 's'), UpdateServer::Mode::Stall}});
        updateCtrl ctrl;
        QSignalSpy spy(&ctrl, &updateCtrl::s_mainSatart);
        ctrl.start();
        const auto visibleDialog = [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (qobject_cast<QProgressDialog *>(w) && w->isVisible())
                    return static_cast<QProgressDialog *>(w);
            return static_cast<QProgressDialog *>(nullptr);
        };
        QTRY_VERIFY(visibleDialog());
        QProgressDialog *dialog = visibleDialog();
        QCOMPARE(dialog->labelText(), QStringLiteral("程序升级中......"));
        auto *cancelButton = dialog->findChild<QPushButton *>();
        QVERIFY(cancelButton);
        QCOMPARE(cancelButton->text(), QStringLiteral("取消"));
        cancelButton->click();
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().first().toInt(), 3);
        QVERIFY(!dialog->isVisible());
        // The stalled transfer ends later; its result changes nothing.
        server->release();
        QTest::qWait(800);
        QCOMPARE(spy.size(), 1);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(InstallDir::read(QStringLiteral("a.txt")), QByteArray("old a"));
        QVERIFY(!QFile::exists(QStringLiteral("slow.bin")));
    }

};

QTEST_MAIN(TestUpdate)
#include "tst_launcher_update.moc"
