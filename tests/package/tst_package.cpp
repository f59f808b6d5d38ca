// The user's own installation beside the system's: what each start takes from the system, what it leaves to the user
// and the launcher. Then the Debian package as a school hands it out: built with cpack, unpacked into a throw-away root,
// checked with the Debian tools, and run from there by unprivileged users against the demo school on a private X
// display.
#include "demoschool.h"
#include "desktop.h"
#include "initext.h"
#include "peerprocess.h"
#include "testsupport.h"
#include "userfolder.h"

#include <QDirIterator>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <array>
#include <atomic>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::linkOf;
using testsupport::readFile;
using testsupport::snapshot;

namespace {

void put(const QString &path, const QByteArray &data)
{
    QVERIFY2(testsupport::writeFile(path, data), qPrintable(path));
}

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

const uid_t kUserA = 65534; // nobody
const uid_t kUserB = 64999; // a throw-away user without an account

using testsupport::run;

using Window = Desktop::Window;
bool isLogin(const Window &w)
{
    return w.geometry.size() == QSize(430, 256);
}

// /usr/bin/tavi of the unpacked root, run as another user.
class Client
{
public:
    Client(const Desktop::Private &display, const QString &root, uid_t uid, const QString &home)
    {
        QProcessEnvironment env;
        env.insert("DISPLAY", display.name());
        env.insert("HOME", home);
        env.insert("LANG", "C.UTF-8");
        env.insert("PATH", "/usr/bin:/bin");
        for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(name))
                env.insert(name, qEnvironmentVariable(name));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("setpriv",
                        {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(uid), "--clear-groups",
                         root + "/usr/bin/tavi"});
        m_process.waitForStarted(10000);
    }
    ~Client() { m_process.kill(), m_process.waitForFinished(10000); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // What it printed, and how it ended if it did.
    QByteArray output()
    {
        m_output += m_process.readAll();
        return running() ? m_output
                         : m_output +
                QStringLiteral("\n[%1, exit %2]").arg(m_process.errorString()).arg(m_process.exitCode()).toUtf8();
    }
    // The first of the client's shown windows that matches (setpriv and
    // /usr/bin/tavi exec, so the launcher keeps this process id).
    template<class Match> Window window(Match match) const
    {
        const QList<Window> shown = Desktop::windows(m_process.processId());
        const auto found = std::find_if(shown.cbegin(), shown.cend(), match);
        return found == shown.cend() ? Window() : *found;
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

// The Debian package that owns an installed file. Each dpkg -S takes seconds on a busy machine: the binaries' many
// shared libraries are looked up once, by their real path first.
QString packageOf(const QString &path)
{
    static QHash<QString, QString> known;
    QByteArray out;
    for (const QString &candidate : {QFileInfo(path).canonicalFilePath(), path})
        for (const QString &form : {candidate, QString(candidate).replace(QRegularExpression("^/usr/"), "/")})
            if (!known.contains(path) && run("dpkg", {"-S", form}, 60000, &out))
                known[path] = QString::fromUtf8(out).section(':', 0, 0).section(',', 0, 0).trimmed();
    return known.value(path, QStringLiteral("<no package owns %1>").arg(path));
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QString m_deb;
    QString m_root;
    QString m_system;

    QString makeHome(const QString &name, uid_t uid)
    {
        const QString home = m_work.filePath(name);
        QDir().mkpath(home);
        return ::chown(QFile::encodeName(home).constData(), uid, uid) == 0 ? home : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        // Other users reach the unpacked root and their homes through it.
        QVERIFY(QFile::setPermissions(m_work.path(), QFile::Permissions(0x7755)));
        QVERIFY(run("cpack",
                    {"--config", testsupport::binaryDir() + "/CPackConfig.cmake", "-B", m_work.filePath("out")},
                    300000));
        m_deb = m_work.filePath("out/tavi_" TAVI_VERSION "_amd64.deb");
        QVERIFY(QFileInfo::exists(m_deb));
        m_root = m_work.filePath("root");
        QVERIFY(run("dpkg-deb", {"-x", m_deb, m_root}));
        m_system = m_root + "/opt/tavi";
    }

    // One list per rule, each version older than the next; then pairs of equal ones. Both ways round.
    void versions()
    {
        const auto order = [](const QString &a, const QString &b) {
            return std::make_pair(UserFolder::compareVersions(a, b), UserFolder::compareVersions(b, a));
        };
        const QList<QStringList> rising{{"", "0"}, // empty is oldest
                                        {"1.0.0", "1.0.0.1"}, // longer is newer
                                        {"1.9", "1.10"}, // numbers, not text
                                        {"2.0~rc1", "2.0", "2.0a", "2.0+"}, // tilde, release, letters, signs
                                        {"1.99999999999999999999", "1.123456789012345678901"}}; // numbers of any length
        for (const QStringList &list : rising)
            for (int i = 1; i < list.size(); ++i)
                QVERIFY2(order(list[i - 1], list[i]) == std::make_pair(-1, 1),
                         qPrintable(list[i - 1] + " < " + list[i]));
        for (const QStringList &same : {QStringList{"1.0.0", "1.0.0"}, {"1.01", "1.1"}, {"", ""}})
            QVERIFY2(order(same[0], same[1]) == std::make_pair(0, 0), qPrintable(same.join(" = ")));
    }

    // Written by us, read by the launcher's QSettings: each text, the version set in it, and what it becomes.
    void iniVersion()
    {
        const QList<std::array<const char *, 3>> cases{
            {"; school\n[UPDATEINFO]\nListURL=http://a/l.xml\n\n[VERSION]\nVersion=1.0\n", "2.0",
             "; school\n[UPDATEINFO]\nListURL=http://a/l.xml\n\n[VERSION]\nVersion=2.0\n"}, // the rest kept
            {"[VERSION]\n  Version = 1.0\n", "2.0", "[VERSION]\nVersion=2.0\n"}, // a spaced key
            {"[VERSION]\n[X]\na=1\n", "3", "[VERSION]\nVersion=3\n[X]\na=1\n"}, // the group without the key
            {"[UPDATEINFO]\nListURL=u", "3", "[UPDATEINFO]\nListURL=u\n\n[VERSION]\nVersion=3\n"}, // no group
            {"", "3", "[VERSION]\nVersion=3\n"},
            {"[VERSION]\nVersion=1\nVersion=2\n", "3", "[VERSION]\nVersion=3\n"}, // the key twice: one left
            {"[OTHER]\nVersion=1\n[VERSION]\n", "3", "[OTHER]\nVersion=1\n[VERSION]\nVersion=3\n"}, // another group's
            {"[VERSION]\nVersion=1\n", "1.0; beta, \"x\"", "[VERSION]\nVersion=\"1.0; beta, \\\"x\\\"\"\n"}, // quoted
            {"[VERSION]\nVersion=1\n", "", "[VERSION]\nVersion=\n"}};
        QTemporaryDir dir;
        for (int i = 0; i < cases.size(); ++i) {
            const QString version = QString::fromUtf8(cases[i][1]), file = dir.filePath(QString::number(i));
            const QByteArray out = IniText::withValue(cases[i][0], "VERSION", "Version", version);
            QCOMPARE(out, QByteArray(cases[i][2]));
            QCOMPARE(IniText::value(out, "VERSION", "Version"), version);
            put(file, out); // a file of its own: QSettings caches what it read by name, size and time
            QCOMPARE(QSettings(file, QSettings::IniFormat).value("/VERSION/Version").toString(), version);
        }
    }

    // A first start, a second that changes nothing, and files that leave the system: its links go, the user's own
    // files stay.
    void freshFolder()
    {
        Trees t;
        put(t.sys("gone.so"), "old");
        put(t.sys("kept.so"), "old");
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

        t.launcherInstalls("kept.so", "mine", "1.1");
        for (const char *path : {"gone.so", "kept.so", "log.properties"})
            QVERIFY(QFile::remove(t.sys(path)));
        QVERIFY(t.update());
        QVERIFY(!QFileInfo(t.mine("gone.so")).isSymLink());
        QCOMPARE(readFile(t.mine("kept.so")), QByteArray("mine"));
        QCOMPARE(readFile(t.mine("log.properties")), QByteArray("log=console\n"));
    }

    // The launcher's update wins over older system releases; a newer one arrives, once: when the school's list still
    // says 1.1 and the launcher goes back to it, the same release does not fight it at every start. The launcher's
    // Version is not a change of the user's: a new list address still reaches them, with their Version kept; their own
    // address stays.
    void launcherAndSystemReleases()
    {
        Trees t;
        const auto holds = [&t](const QByteArray &library, const QString &version, const char *list) {
            return readFile(t.mine("libtaviMainLib.so")) == library && t.userVersion() == version &&
                IniText::value(readFile(t.mine("qupdater.ini")), "UPDATEINFO", "ListURL") == QLatin1String(list);
        };
        QVERIFY(t.update());
        t.launcherInstalls("libtaviMainLib.so", "library 1.1", "1.1");
        QVERIFY(t.update());
        QVERIFY(holds("library 1.1", "1.1", "http://school/list.xml"));
        put(t.sys("qupdater.ini"),
            "; the school's own server\n[UPDATEINFO]\nListURL=http://own/list.xml\n\n[VERSION]\nVersion=1.0\n");
        QVERIFY(t.update());
        QVERIFY(holds("library 1.1", "1.1", "http://own/list.xml"));
        t.systemRelease("1.0.5");
        QVERIFY(t.update());
        QVERIFY(holds("library 1.1", "1.1", "http://own/list.xml"));
        QSettings(t.mine("qupdater.ini"), QSettings::IniFormat).setValue("/UPDATEINFO/ListURL", "http://mine/list.xml");
        t.systemRelease("2.0");
        QVERIFY(t.update());
        QCOMPARE(linkOf(t.mine("libtaviMainLib.so")), t.sys("libtaviMainLib.so"));
        QVERIFY(holds("library 2.0", "2.0", "http://mine/list.xml"));
        t.launcherInstalls("libtaviMainLib.so", "library 1.1", "1.1");
        QVERIFY(t.update());
        QVERIFY(holds("library 1.1", "1.1", "http://mine/list.xml"));
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

    // Starts at once on a folder that a start left half-made: each succeeds, and the folder is as one start alone makes
    // it. Then one whose state file was lost: a copy that differs from the system's is the user's.
    void halfMadeFolderAndConcurrentStarts()
    {
        Trees alone;
        QVERIFY(alone.update());
        Trees t;
        QVERIFY(QDir().mkpath(t.mine("doc")));
        QVERIFY(QFile::link(t.sys("tavi"), t.mine("tavi")));
        QVERIFY(QFile::link("/nonexistent", t.mine("libtaviMainLib.so.tavi_new")));
        put(t.mine("etc/sysConfigue.ini.tavi_new"), "half");
        QFile::copy(t.sys("log.properties"), t.mine("log.properties"));
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
        QCOMPARE(snapshot(t.user), snapshot(alone.user).replaceInStrings(alone.tmp.path(), t.tmp.path()));
        QFile::remove(t.mine(UserFolder::kStateFile));
        put(t.mine("log.properties"), "log=mine\n");
        put(t.sys("log.properties"), "log=new\n");
        QVERIFY(t.update());
        QCOMPARE(readFile(t.mine("log.properties")), QByteArray("log=mine\n"));
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

    void contents_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>(
            "kind"); // "x" executable, "f" file (the link from /opt to the settings: shippedSettings)
        QTest::newRow("command") << "usr/bin/tavi" << QStringLiteral("x");
        for (const char *tool : {"tavi", "tavi-play", "tavi-record"})
            QTest::newRow(tool) << QStringLiteral("opt/tavi/") + tool << "x";
        for (const char *file :
             {"opt/tavi/libtaviMainLib.so", "opt/tavi/qupdater.ini", "opt/tavi/log.properties", "opt/tavi/update.pub",
              "etc/opt/tavi/sysConfigue.ini", "usr/share/applications/tavi.desktop", "usr/share/man/man1/tavi.1.gz",
              "usr/share/doc/tavi/copyright", "usr/share/icons/hicolor/scalable/apps/tavi.svg"})
            QTest::newRow(file) << file << "f";
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            QTest::newRow(qPrintable(QStringLiteral("icon %1").arg(size)))
                << QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/tavi.png").arg(size) << "f";
    }
    void contents()
    {
        QFETCH(QString, path);
        QFETCH(QString, kind);
        const QFileInfo info(m_root + "/" + path);
        QVERIFY2(info.isFile() && !info.isSymLink(), qPrintable(path));
        QCOMPARE(info.isExecutable(), kind == "x");
        const QRegularExpressionMatch m = QRegularExpression("/(\\d+)x\\1/").match(path);
        if (m.hasMatch())
            QCOMPARE(QImage(info.filePath()).size(), QSize(m.captured(1).toInt(), m.captured(1).toInt()));
    }

    // The settings and the key that a package built in a fresh build folder ships: the demo school's by default, else
    // the school's from the build's options (looked at through the install rules of the settings, without building the
    // binaries).
    void shippedSettings_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("expected"); // Url, webUrl, chatUrl, ListURL
        QTest::addColumn<QString>("key"); // the key file shipped, in the fresh folder or this test's
        QTest::newRow("demo school") << QStringList()
                                     << QStringList({"http://127.0.0.1:18080", "127.0.0.1:18080", "127.0.0.1",
                                                     "http://127.0.0.1:18080/update/list.xml"})
                                     << "fresh/demo-update-key/update.pub";
        QTest::newRow("a school's") << QStringList({"-DTAVI_SCHOOL_URL=https://school.example",
                                                    "-DTAVI_SCHOOL_CHAT_HOST=chat.school.example",
                                                    "-DTAVI_UPDATE_KEY=" + m_work.filePath("school.pub")})
                                    << QStringList({"https://school.example", "school.example", "chat.school.example",
                                                    "https://school.example/update/list.xml"})
                                    << "school.pub";
    }
    void shippedSettings()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, expected);
        QFETCH(QString, key);
        const QString fresh = m_work.filePath("fresh"), root = m_work.filePath("settings");
        QDir(fresh).removeRecursively();
        QDir(root).removeRecursively();
        if (!QFile::exists(m_work.filePath("school.pub")))
            QVERIFY(run("minisign",
                        {"-G", "-W", "-p", m_work.filePath("school.pub"), "-s", m_work.filePath("school.key")}));
        QVERIFY(run("cmake", QStringList{"-S", testsupport::sourceDir(), "-B", fresh} + options, 300000));
        QVERIFY(run("env", {"DESTDIR=" + root, "cmake", "--install", fresh, "--component", "settings"}, 120000));
        QSettings config(root + "/etc/opt/tavi/sysConfigue.ini", QSettings::IniFormat);
        QSettings updater(root + "/opt/tavi/qupdater.ini", QSettings::IniFormat);
        QCOMPARE(QStringList({config.value("/TaviHttp/Url").toString(), config.value("/TaviHttp/webUrl").toString(),
                              config.value("/TaviHttp/chatUrl").toString(),
                              updater.value("/UPDATEINFO/ListURL").toString()}),
                 expected);
        QCOMPARE(updater.value("/VERSION/Version").toString(), QString(TAVI_VERSION));
        const QByteArray shipped = readFile(root + "/opt/tavi/update.pub");
        QVERIFY(shipped.startsWith("untrusted comment: minisign public key"));
        QCOMPARE(shipped, readFile(m_work.filePath(key)));
        QCOMPARE(linkOf(root + "/opt/tavi/etc"), QString("/etc/opt/tavi"));
    }

    void desktopEntry()
    {
        const QString path = m_root + "/usr/share/applications/tavi.desktop";
        QByteArray out;
        QVERIFY(run("desktop-file-validate", {path}, 60000, &out));
        // Hints are allowed: two main categories are what is asked for.
        for (const QByteArray &line : out.split('\n'))
            QVERIFY2(line.isEmpty() || line.contains(": hint: "), line.constData());
        const QString entry = QString::fromUtf8(readFile(path));
        for (const char *line : {"Exec=tavi", "Icon=tavi", "Categories=Education;AudioVideo;", "StartupWMClass=tavi"})
            QVERIFY2(entry.split('\n').contains(line), line);
        QVERIFY(entry.contains(QRegularExpression(QStringLiteral("\nName\\[zh_CN\\]=[^\n]*课堂"))));
    }

    // Every library a binary of the package links directly comes from a package that it depends on, and it depends on
    // no build tool; it holds the client alone, and its settings are the one configuration file. (The name of the file
    // cpack made tells the package, version and architecture.)
    void dependencies()
    {
        QByteArray out;
        QVERIFY(run("dpkg-deb", {"-I", m_deb, "conffiles"}, 60000, &out));
        QCOMPARE(out, QByteArray("/etc/opt/tavi/sysConfigue.ini\n"));
        QVERIFY(run("dpkg-deb", {"-f", m_deb, "Depends"}, 60000, &out));
        QSet<QString> depends;
        for (const QString &item : QString::fromUtf8(out).split(QRegularExpression("[,|]"), Qt::SkipEmptyParts))
            depends << item.trimmed().section(' ', 0, 0);
        const QStringList tools{"build-essential", "cmake", "gcc", "g++", "make", "pkg-config", "ccache"};
        for (const QString &name : depends)
            QVERIFY2(!name.endsWith("-dev") && !tools.contains(name), qPrintable(name));
        QVERIFY(depends.contains("fonts-wqy-microhei"));

        QDirIterator it(m_root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        int binaries = 0, inOpt = 0;
        while (it.hasNext()) {
            const QString file = it.next(), inside = file.mid(m_root.size() + 1);
            QVERIFY2(!inside.contains("demo") && !inside.contains("tst_") && !inside.contains("fake"),
                     qPrintable(inside));
            inOpt += inside.startsWith("opt/");
            if (!readFile(file).startsWith("\x7f"
                                           "ELF"))
                continue;
            ++binaries;
            QByteArray dynamic, ldd;
            QVERIFY(run("readelf", {"-d", file}, 60000, &dynamic) && run("ldd", {file}, 60000, &ldd));
            auto m = QRegularExpression("\\(NEEDED\\).*\\[(.+)\\]").globalMatch(QString::fromUtf8(dynamic));
            while (m.hasNext()) {
                const QString library = m.next().captured(1);
                const QRegularExpression where(
                    QStringLiteral("\\s%1 => (\\S+)").arg(QRegularExpression::escape(library)));
                const QString path = where.match(QString::fromUtf8(ldd)).captured(1);
                QVERIFY2(!path.isEmpty(), qPrintable(file + " needs " + library + ", not found"));
                const QString owner = packageOf(path);
                QVERIFY2(depends.contains(owner),
                         qPrintable(QStringLiteral("%1 needs %2 from %3").arg(file, library, owner)));
            }
        }
        QCOMPARE(binaries, 5);
        QCOMPARE(inOpt, 7);
    }

    void lintian()
    {
        QByteArray out;
        const bool clean = run("lintian", {m_deb}, 300000, &out);
        qInfo("lintian (%s):\n%s", clean ? "clean" : "not clean", out.constData());
        for (const QByteArray &line : out.split('\n'))
            QVERIFY2(!line.startsWith("E: "), line.constData());
    }

    // Two users start the installed client; the first signs in and takes
    // the demo school's update into their own folder.
    void usersOwnInstallation()
    {
        if (::geteuid() != 0)
            QSKIP("running the client as other users needs root (CI runs as root); skipped");
        QVERIFY2(!::getpwuid(kUserB), "the throw-away user id is taken");

        // As an installation would see it: /opt/tavi/etc is /etc/opt/tavi.
        QVERIFY(QFile::remove(m_system + "/etc"));
        QVERIFY(QFile::link(m_root + "/etc/opt/tavi", m_system + "/etc"));

        testsupport::DemoSchool school;
        QVERIFY(school.start());
        // The school edits its settings where the package put them.
        const QString here = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_system) && school.writeSysConfig() && QDir::setCurrent(here));
        put(m_system + "/qupdater.ini",
            IniText::withValue(readFile(m_system + "/qupdater.ini"), "UPDATEINFO", "ListURL",
                               school.baseUrl() + "/update/list.xml"));
        const QString list = testsupport::httpGet(school.baseUrl() + "/update/list.xml");
        const QString listVersion = QRegularExpression("<taviversion ver=\"([^\"]+)\"").match(list).captured(1);
        const QString updatePath = QRegularExpression("<file [^>]*path=\"([^\"]+)\"").match(list).captured(1);
        QVERIFY(!listVersion.isEmpty() && !updatePath.isEmpty());
        const QByteArray update =
            testsupport::httpGet(school.baseUrl() + "/update/" + QUrl::toPercentEncoding(updatePath, "/"));
        QVERIFY(!update.isEmpty());
        const QStringList system = snapshot(m_root, true);

        Desktop::Private display;
        QVERIFY(display.start(QSize(1280, 800)));
        Desktop::setDisplay(display.name());

        // User B starts first and leaves a folder of their own.
        const QString homeB = makeHome("homeB", kUserB);
        {
            Client b(display, m_root, kUserB, homeB);
            QTRY_VERIFY_WITH_TIMEOUT(b.window([](const Window &) { return true; }).geometry.isValid() || !b.running(),
                                     60000);
            QVERIFY2(b.running(), b.output().constData());
        }
        QVERIFY(QFileInfo(homeB + "/.local/share/tavi/tavi").isSymLink());
        const QStringList before = snapshot(homeB, true);

        const QString homeA = makeHome("homeA", kUserA);
        const QString folderA = homeA + "/.local/share/tavi";
        Client a(display, m_root, kUserA, homeA);
        // The update's message, then the sign-in dialog.
        Window box;
        QTRY_VERIFY_WITH_TIMEOUT(
            (box = a.window([](const Window &w) { return !isLogin(w); })).geometry.isValid() || !a.running(), 60000);
        QVERIFY2(a.running(), a.output().constData());
        QCOMPARE(QFileInfo(folderA).ownerId(), kUserA);
        QCOMPARE(QFileInfo(folderA).permissions() & 0x0077, QFile::Permissions());
        QCOMPARE(linkOf(folderA + "/tavi"), m_system + "/tavi");
        QCOMPARE(linkOf(folderA + "/update.pub"), m_system + "/update.pub");
        // The desktop entry's StartupWMClass names the client's windows.
        QByteArray wmClass;
        QVERIFY(testsupport::run("env", {"DISPLAY=" + display.name(), "xprop", "-id", box.id, "WM_CLASS"}, 10000,
                                 &wmClass));
        QVERIFY(wmClass.contains("= \"tavi\", \"tavi\""));
        QVERIFY(Desktop::xdotool({"windowfocus", box.id}) && Desktop::key("Return"));
        Window login;
        QTRY_VERIFY_WITH_TIMEOUT((login = a.window(isLogin)).geometry.isValid(), 30000);

        const QFileInfo installed(folderA + "/" + updatePath);
        QVERIFY2(installed.isFile() && !installed.isSymLink(), qPrintable(installed.filePath()));
        QCOMPARE(installed.ownerId(), kUserA);
        QCOMPARE(readFile(installed.filePath()), update);
        // Signed by the demo school with the key the package ships.
        const QByteArray log = readFile(folderA + "/log/update.log");
        QVERIFY2(log.contains("installed") && !log.contains("unchecked"), log.constData());
        QCOMPARE(QSettings(folderA + "/qupdater.ini", QSettings::IniFormat).value("/VERSION/Version").toString(),
                 listVersion);
        QCOMPARE(QSettings(folderA + "/etc/sysConfigue.ini", QSettings::IniFormat).value("/TaviHttp/Url").toString(),
                 school.baseUrl());

        // Sign in as the demo student; the main window follows.
        const QPoint at = login.geometry.topLeft() + QPoint(215, 0);
        QVERIFY(Desktop::click(at + QPoint(0, 115)) && Desktop::type("student") &&
                Desktop::click(at + QPoint(0, 150)) && Desktop::type("123456") && Desktop::click(at + QPoint(0, 203)));
        QTRY_VERIFY_WITH_TIMEOUT(a.window([](const Window &w) { return w.geometry.width() > 600; }).geometry.isValid(),
                                 30000);

        QVERIFY(!QFileInfo::exists(m_system + "/" + updatePath));
        QCOMPARE(snapshot(m_root, true), system);
        QCOMPARE(snapshot(homeB, true), before);
    }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
