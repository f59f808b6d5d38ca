// The user's own installation beside the system's: what each start takes
// from the system, what it leaves to the user and the launcher.
#include "initext.h"
#include "testsupport.h"
#include "userfolder.h"

#include <QSettings>
#include <QtTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void put(const QString &path, const QByteArray &data)
{
    QVERIFY2(testsupport::writeFile(path, data), qPrintable(path));
}

using testsupport::linkOf;
using testsupport::readFile;
using testsupport::snapshot;

const QString kDoc = QStringLiteral("doc/read me 说明.txt");

// A system installation (with a space in its path) and a user's folder.
struct Trees
{
    QTemporaryDir tmp;
    QString system = tmp.path() + QStringLiteral("/opt dir/tavi");
    QString user = tmp.path() + QStringLiteral("/home/.local/share/tavi");

    Trees()
    {
        put(system + "/tavi", "launcher 1.0");
        QFile::setPermissions(system + "/tavi",
                              QFile::permissions(system + "/tavi") | QFile::ExeOwner | QFile::ExeOther);
        put(system + "/libtaviMainLib.so", "library 1.0");
        put(system + "/qupdater.ini", "[UPDATEINFO]\nListURL=http://school/list.xml\n\n[VERSION]\nVersion=1.0\n");
        put(system + "/log.properties", "log=console\n");
        put(system + "/etc/sysConfigue.ini", "[TaviHttp]\nUrl=http://school\n");
        put(system + "/" + kDoc, "notes 1.0");
        put(system + "/update.pub", "school's key");
    }
    QString sys(const QString &path) const { return system + "/" + path; }
    QString mine(const QString &path) const { return user + "/" + path; }
    bool update() const
    {
        UserFolder folder(system, user);
        const bool ok = folder.update();
        if (!ok)
            qWarning() << folder.errorString();
        return ok;
    }
    // What the launcher does when it installs an update.
    void launcherInstalls(const QString &path, const QByteArray &data, const QString &version) const
    {
        QFile::remove(mine(path));
        put(mine(path), data);
        QSettings ini(mine("qupdater.ini"), QSettings::IniFormat);
        ini.setValue("/VERSION/Version", version);
    }
    void systemRelease(const QString &version) const
    {
        put(sys("libtaviMainLib.so"), "library " + version.toUtf8());
        put(sys("qupdater.ini"), IniText::withValue(readFile(sys("qupdater.ini")), "VERSION", "Version", version));
    }
    QString userVersion() const { return UserFolder::iniVersion(mine("qupdater.ini")); }
};

} // namespace

class TestUserFolder : public QObject
{
    Q_OBJECT

private slots:
    void versions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        const auto row = [](const char *name, const char *a, const char *b, int order) {
            QTest::newRow(name) << a << b << order;
        };
        row("equal", "1.0.0", "1.0.0", 0);
        row("longer is newer", "1.0.0.1", "1.0.0", 1);
        row("numbers, not text", "1.10", "1.9", 1);
        row("leading zeros", "1.01", "1.1", 0);
        row("empty is oldest", "", "0", -1);
        row("both empty", "", "", 0);
        row("tilde before release", "2.0~rc1", "2.0", -1);
        row("letters after release", "2.0a", "2.0", 1);
        row("letters before signs", "2.0a", "2.0+", -1);
        row("huge numbers", "1.123456789012345678901", "1.99999999999999999999", 1);
    }
    void versions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(UserFolder::compareVersions(a, b), order);
        QCOMPARE(UserFolder::compareVersions(b, a), -order);
    }

    // Written by us, read by the launcher's QSettings.
    void iniVersion_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const char *text, const char *version, const char *expected) {
            QTest::newRow(name) << QByteArray(text) << version << QByteArray(expected);
        };
        row("replaced, rest kept", "; school\n[UPDATEINFO]\nListURL=http://a/l.xml\n\n[VERSION]\nVersion=1.0\n", "2.0",
            "; school\n[UPDATEINFO]\nListURL=http://a/l.xml\n\n[VERSION]\nVersion=2.0\n");
        row("spaced key", "[VERSION]\n  Version = 1.0\n", "2.0", "[VERSION]\nVersion=2.0\n");
        row("group without key", "[VERSION]\n[X]\na=1\n", "3", "[VERSION]\nVersion=3\n[X]\na=1\n");
        row("no group", "[UPDATEINFO]\nListURL=u", "3", "[UPDATEINFO]\nListURL=u\n\n[VERSION]\nVersion=3\n");
        row("empty file", "", "3", "[VERSION]\nVersion=3\n");
        row("twice: one left", "[VERSION]\nVersion=1\nVersion=2\n", "3", "[VERSION]\nVersion=3\n");
        row("other group's key", "[OTHER]\nVersion=1\n[VERSION]\n", "3", "[OTHER]\nVersion=1\n[VERSION]\nVersion=3\n");
        row("needs quotes", "[VERSION]\nVersion=1\n", "1.0; beta, \"x\"",
            "[VERSION]\nVersion=\"1.0; beta, \\\"x\\\"\"\n");
        row("emptied", "[VERSION]\nVersion=1\n", "", "[VERSION]\nVersion=\n");
    }
    void iniVersion()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, version);
        QFETCH(QByteArray, expected);
        const QByteArray out = IniText::withValue(text, "VERSION", "Version", version);
        QCOMPARE(out, expected);
        QCOMPARE(IniText::value(out, "VERSION", "Version"), version);
        QTemporaryDir dir;
        put(dir.filePath("q.ini"), out);
        QCOMPARE(QSettings(dir.filePath("q.ini"), QSettings::IniFormat).value("/VERSION/Version").toString(), version);
    }

    void freshFolder()
    {
        Trees t;
        const QStringList before = snapshot(t.system);
        QVERIFY(t.update());
        QCOMPARE(QFileInfo(t.user).permissions() & 0x0077, QFile::Permissions());
        for (const QString &path :
             {QStringLiteral("tavi"), QStringLiteral("libtaviMainLib.so"), kDoc, QStringLiteral("update.pub")})
            QCOMPARE(linkOf(t.mine(path)), t.sys(path));
        for (const QString &path : QStringList{"qupdater.ini", "log.properties", "etc/sysConfigue.ini"}) {
            QVERIFY2(!QFileInfo(t.mine(path)).isSymLink(), qPrintable(path));
            QCOMPARE(readFile(t.mine(path)), readFile(t.sys(path)));
        }
        QCOMPARE(snapshot(t.system), before);
        // A second start changes nothing.
        const QStringList made = snapshot(t.user);
        QVERIFY(t.update());
        QCOMPARE(snapshot(t.user), made);
        // The school's key is never a file of the user's own, unlike programs.
        QFile::remove(t.mine("update.pub"));
        put(t.mine("update.pub"), "another key");
        QVERIFY(t.update());
        QCOMPARE(snapshot(t.user), made);
    }

    // The launcher's update wins over older system releases; a newer one arrives, once: when the school's list still
    // says 1.1 and the launcher goes back to it, the same release does not fight it at every start.
    void launcherAndSystemReleases()
    {
        Trees t;
        const auto holds = [&t](const QByteArray &library, const QString &version) {
            return readFile(t.mine("libtaviMainLib.so")) == library && t.userVersion() == version;
        };
        QVERIFY(t.update());
        t.launcherInstalls("libtaviMainLib.so", "library 1.1", "1.1");
        QVERIFY(t.update());
        QVERIFY(holds("library 1.1", "1.1"));
        t.systemRelease("1.0.5");
        QVERIFY(t.update());
        QVERIFY(holds("library 1.1", "1.1"));
        t.systemRelease("2.0");
        QVERIFY(t.update());
        QCOMPARE(linkOf(t.mine("libtaviMainLib.so")), t.sys("libtaviMainLib.so"));
        QVERIFY(holds("library 2.0", "2.0"));
        t.launcherInstalls("libtaviMainLib.so", "library 1.1", "1.1");
        QVERIFY(t.update());
        QVERIFY(holds("library 1.1", "1.1"));
    }

    void settings_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("users"); // the user's own change; none if empty
        QTest::addColumn<QByteArray>("schools"); // the school's change in the system
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const char *path, const char *users, const char *schools,
                            const char *expected) {
            QTest::newRow(name) << path << QByteArray(users) << QByteArray(schools) << QByteArray(expected);
        };
        const char *const config = "etc/sysConfigue.ini";
        row("school's edit reaches", config, "", "[TaviHttp]\nUrl=http://new\n", "[TaviHttp]\nUrl=http://new\n");
        row("user's edit stays", config, "[TaviHttp]\nUrl=http://mine\n", "[TaviHttp]\nUrl=http://new\n",
            "[TaviHttp]\nUrl=http://mine\n");
        row("same edit on both", "log.properties", "log=file\n", "log=file\n", "log=file\n");
        row("user's log set-up stays", "log.properties", "log=mine\n", "log=file\n", "log=mine\n");
    }
    void settings()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, users);
        QFETCH(QByteArray, schools);
        QFETCH(QByteArray, expected);
        Trees t;
        QVERIFY(t.update());
        if (!users.isEmpty())
            put(t.mine(path), users);
        put(t.sys(path), schools);
        QVERIFY(t.update());
        QCOMPARE(readFile(t.mine(path)), expected);
        // Later system changes follow only where the user's copy still is the system's.
        put(t.sys(path), "later\n");
        QVERIFY(t.update());
        QCOMPARE(readFile(t.mine(path)), expected == schools ? QByteArray("later\n") : expected);
        // A newer release keeps settings the user changed.
        t.systemRelease("3.0");
        QVERIFY(t.update());
        QCOMPARE(readFile(t.mine(path)), expected == schools ? QByteArray("later\n") : expected);
    }

    // The launcher's Version is not a change of the user's: a new list
    // address still reaches them, with their Version kept.
    void updaterSettings()
    {
        Trees t;
        QVERIFY(t.update());
        t.launcherInstalls("libtaviMainLib.so", "library 1.1", "1.1");
        put(t.sys("qupdater.ini"),
            "; the school's own server\n[UPDATEINFO]\nListURL=http://own/list.xml\n\n[VERSION]\nVersion=1.0\n");
        QVERIFY(t.update());
        QSettings ini(t.mine("qupdater.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("/UPDATEINFO/ListURL").toString(), QString("http://own/list.xml"));
        QCOMPARE(ini.value("/VERSION/Version").toString(), QString("1.1"));
        // The user's own list address stays, and a newer release sets the version.
        ini.setValue("/UPDATEINFO/ListURL", "http://mine/list.xml");
        ini.sync();
        t.systemRelease("2.0");
        QVERIFY(t.update());
        QCOMPARE(IniText::value(readFile(t.mine("qupdater.ini")), "UPDATEINFO", "ListURL"),
                 QString("http://mine/list.xml"));
        QCOMPARE(t.userVersion(), QString("2.0"));
    }

    void removedFromSystem()
    {
        Trees t;
        put(t.sys("gone.so"), "old");
        put(t.sys("kept.so"), "old");
        QVERIFY(t.update());
        t.launcherInstalls("kept.so", "mine", "1.1");
        QFile::remove(t.sys("gone.so"));
        QFile::remove(t.sys("kept.so"));
        QFile::remove(t.sys("log.properties"));
        QVERIFY(t.update());
        QVERIFY(!QFileInfo(t.mine("gone.so")).isSymLink());
        QCOMPARE(readFile(t.mine("kept.so")), QByteArray("mine"));
        QCOMPARE(readFile(t.mine("log.properties")), QByteArray("log=console\n"));
    }

    // A start that died half-way, and one whose state file was lost.
    void halfMadeFolder()
    {
        Trees done;
        QVERIFY(done.update());
        Trees t;
        QVERIFY(QDir().mkpath(t.mine("doc")));
        QVERIFY(QFile::link(t.sys("tavi"), t.mine("tavi")));
        QVERIFY(QFile::link("/nonexistent", t.mine("libtaviMainLib.so.tavi_new")));
        put(t.mine("etc/sysConfigue.ini.tavi_new"), "half");
        QFile::copy(t.sys("log.properties"), t.mine("log.properties"));
        QVERIFY(t.update());
        QStringList expected = snapshot(done.user).replaceInStrings(done.tmp.path(), t.tmp.path());
        QCOMPARE(snapshot(t.user), expected);
        // No state: a copy that differs from the system's is the user's.
        QFile::remove(t.mine(UserFolder::kStateFile));
        put(t.mine("log.properties"), "log=mine\n");
        put(t.sys("log.properties"), "log=new\n");
        QVERIFY(t.update());
        QCOMPARE(readFile(t.mine("log.properties")), QByteArray("log=mine\n"));
    }

    void concurrentStarts()
    {
        Trees t;
        std::atomic<int> failed{0};
        std::vector<std::thread> starts;
        for (int i = 0; i < 6; ++i)
            starts.emplace_back([&] {
                if (!UserFolder(t.system, t.user).update())
                    ++failed;
            });
        for (std::thread &start : starts)
            start.join();
        QCOMPARE(failed.load(), 0);
        Trees alone;
        QVERIFY(alone.update());
        QCOMPARE(snapshot(t.user), snapshot(alone.user).replaceInStrings(alone.tmp.path(), t.tmp.path()));
    }

    void refusals()
    {
        Trees t;
        QFile::remove(t.sys("tavi"));
        UserFolder folder(t.system, t.user);
        QVERIFY(!folder.update());
        QVERIFY2(folder.errorString().contains(t.system), qPrintable(folder.errorString()));
        QVERIFY(!QFileInfo::exists(t.user));
        put(t.sys("tavi"), "launcher 1.0");

        // An existing folder that others may write, or a link in its place.
        QVERIFY(QDir().mkpath(t.user));
        QVERIFY(QFile::setPermissions(t.user, QFile::Permissions(0x7777)));
        QVERIFY(!folder.update());
        QVERIFY2(folder.errorString().contains("written by others"), qPrintable(folder.errorString()));
        QVERIFY(QFile::setPermissions(t.user, QFile::Permissions(0x7770)));
        QVERIFY(!folder.update());
        QVERIFY(QDir(t.user).removeRecursively());
        const QString elsewhere = t.tmp.path() + "/elsewhere";
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::link(elsewhere, t.user));
        QVERIFY(!folder.update());
        QVERIFY(QDir(elsewhere).isEmpty());
        QVERIFY(QFile::remove(t.user));
        QVERIFY(folder.update());
        QVERIFY(folder.folderFd() >= 0);

        QVERIFY(!UserFolder::belongsToAnotherUser(t.user));
        if (::geteuid() != 0)
            QSKIP("the rest needs root to give a folder to another user");
        const QString other = t.tmp.path() + "/other";
        QVERIFY(QDir().mkpath(other + "/.local"));
        QCOMPARE(::chown(qPrintable(other), 65534, 65534), 0);
        QCOMPARE(::chown(qPrintable(other + "/.local"), 65534, 65534), 0);
        QVERIFY(UserFolder::belongsToAnotherUser(other + "/.local/share/tavi"));
        QVERIFY(UserFolder::belongsToAnotherUser(other));
        QVERIFY(!UserFolder::belongsToAnotherUser("/nonexistent/tavi")); // "/" is root's
        // Checked on the folder itself, not on the way there.
        QVERIFY(QDir().mkpath(other + "/tavi"));
        QCOMPARE(::chown(qPrintable(other + "/tavi"), 65534, 65534), 0);
        QVERIFY(QFile::setPermissions(other + "/tavi", QFile::Permissions(0x7700)));
        UserFolder theirs(t.system, other + "/tavi");
        QVERIFY(!theirs.update());
        QVERIFY2(theirs.errorString().contains("is not yours"), qPrintable(theirs.errorString()));
    }
};

QTEST_GUILESS_MAIN(TestUserFolder)
#include "tst_userfolder.moc"
