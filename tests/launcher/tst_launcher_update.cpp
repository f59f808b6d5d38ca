// Reading an update list and choosing the files to fetch; updating an installation from real HTTP and HTTPS servers,
// with lists signed by the minisign command line: what is installed and with which modes, what is refused, and that
// failures leave the installation alone; then starting the main library: the real launcher with a stand-in library,
// and the launcher's hand-off in a child process for the failure messages.
#include "curlope.h"
#include "downloadmanager.h"
#include "httpserver.h"
#include "iniope.h"
#include "testsupport.h"
#include "updatectrl.h"
#include "userfolder.h"
#include "widgets.h"
#include "winstart.h"
#include "xmlparse.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>

using testsupport::HttpServer;

namespace {

// A scratch installation that is the working directory while it lives.
class InstallDir
{
public:
    InstallDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~InstallDir() { QDir::setCurrent(m_previous); }

    static void setUpdater(const QString &listUrl, const QString &version)
    {
        QSettings ini(QStringLiteral("qupdater.ini"), QSettings::IniFormat);
        ini.setValue(QStringLiteral("/UPDATEINFO/ListURL"), listUrl);
        ini.setValue(QStringLiteral("/VERSION/Version"), version);
    }

    static void write(const QString &path, const QByteArray &body) { QVERIFY(testsupport::writeFile(path, body)); }
    static QByteArray read(const QString &path)
    {
        return QFile::exists(path) ? testsupport::readFile(path) : QByteArray("<missing>");
    }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Checksums as the update list writes them.
inline QString md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toUpper());
}
inline QString sha256Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

// A minisign key pair made with the minisign command line, which also
// signs: a signer independent of the launcher's checks.
class Signer
{
public:
    bool make()
    {
        return m_dir.isValid() &&
            testsupport::run(QStringLiteral("minisign"), {"-G", "-W", "-p", path("key.pub"), "-s", path("key.sec")});
    }
    QByteArray publicKey() const { return testsupport::readFile(path("key.pub")); }
    // The .minisig of text: pre-hashed, or legacy.
    QByteArray sign(const QByteArray &text, bool legacy = false) const
    {
        if (!testsupport::writeFile(path("list.xml"), text))
            return QByteArray();
        QFile::remove(path("list.xml.minisig"));
        QStringList args{"-S", "-s", path("key.sec"), "-m", path("list.xml"), "-t", "tavi test list"};
        if (legacy)
            args << "-l";
        return testsupport::run(QStringLiteral("minisign"), args) ? testsupport::readFile(path("list.xml.minisig"))
                                                                  : QByteArray();
    }

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

// This test program run again with args, in the current folder (an installation); what it printed.
QString runChild(const QStringList &args, int timeoutMs = 60000)
{
    QByteArray out;
    testsupport::run(QCoreApplication::applicationFilePath(), args, timeoutMs, &out); // the output tells how it ended
    return QString::fromUtf8(out);
}

struct ListFile
{
    QString path;
    QByteArray body;
    HttpServer::Mode mode = HttpServer::Mode::Normal;
    QString checksums = {}; // default: ver and sha256 of the body
    QString extra = {}; // more attributes
};

enum class Signing {
    Prehashed,
    Legacy,
    Unsigned,
    OtherKey,
    ByteChanged,
    CommentChanged
};

const QString kLog = QStringLiteral("log/update.log");
// The second listed file of a refused or failed update: large enough to break half-way.
const QByteArray kBody(200 * 1024, 'b');
// publish()'s key: none, or the one the installation has.
const QByteArray kNoKey("-");
const QByteArray kKeepKey("=");

// The child: the launcher as `tavi` runs it, answering every message box (printed as "box:TEXT"), then printing the
// installed version and its status.
int child(int argc, char **argv)
{
    QApplication application(argc, argv);
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("box:%s\n", box->text().toUtf8().constData());
            std::fflush(stdout);
            box->accept();
        }
    });
    closer.start(20);
    const int status = launcherMain();
    std::printf("version:%s\nexit:%d\n", InIOpe::installedVersion().toUtf8().constData(), status);
    return status;
}

// Listed files with their "ver" only.
xmlParse::FileMap md5s(const std::map<std::string, std::string> &sums)
{
    xmlParse::FileMap files;
    for (const auto &entry : sums)
        files[entry.first].md5 = entry.second;
    return files;
}

} // namespace

Q_DECLARE_METATYPE(Signing)
Q_DECLARE_METATYPE(xmlParse::FileMap)

class TestUpdate : public QObject
{
    Q_OBJECT

    HttpServer server;
    Signer school;
    Signer other;
    QTemporaryDir certificates;
    testsupport::ThrowAwayCa ca{certificates.filePath("ca")};
    testsupport::ThrowAwayCa otherCa{certificates.filePath("other")};
    int listCounter = 0;

    // Publishes the files and their list, signed as signing says, under a fresh folder of on; points the installation
    // in the current folder at it, with the school's key unless key says otherwise. The list's folder.
    QString publish(HttpServer &on, const QString &version, const QList<ListFile> &files,
                    Signing signing = Signing::Prehashed, const QByteArray &key = {})
    {
        const QString folder = QStringLiteral("rel%1/").arg(++listCounter);
        QString xml = QStringLiteral("<update><taviversion ver=\"%1\"/>").arg(version);
        for (const ListFile &f : files) {
            const QString sums = f.checksums.isEmpty()
                ? QStringLiteral("ver=\"%1\" sha256=\"%2\"").arg(md5Hex(f.body), sha256Hex(f.body))
                : f.checksums;
            xml += QStringLiteral("<file %1 %2 path=\"%3\"/>").arg(sums, f.extra, QString(f.path).replace('/', '\\'));
            on.setFile(folder + f.path, f.body, f.mode);
        }
        QByteArray list = (xml + "</update>").toUtf8();
        QByteArray signature = (signing == Signing::OtherKey ? other : school).sign(list, signing == Signing::Legacy);
        if (signing == Signing::ByteChanged)
            list.replace("<taviversion ver=\"2", "<taviversion ver=\"9");
        if (signing == Signing::CommentChanged)
            signature.replace("trusted comment: tavi test list", "trusted comment: tavi test lisT");
        if (signing != Signing::Unsigned)
            on.setFile(folder + "list.xml.minisig", signature);
        on.setFile(folder + "list.xml", list);
        InstallDir::setUpdater(on.url(folder + "list.xml"), "1.0");
        if (key != kKeepKey)
            QFile::remove("update.pub");
        if (key != kKeepKey && key != kNoKey)
            InstallDir::write("update.pub", key.isEmpty() ? school.publicKey() : key);
        return folder;
    }

    static xmlParse *list() { return xmlParse::instance(); }

    // Fetches the list and runs an update to its outcome.
    static int update()
    {
        xmlParse::instance()->reload();
        updateCtrl ctrl;
        QSignalSpy spy(&ctrl, &updateCtrl::s_mainSatart);
        ctrl.start();
        if (spy.isEmpty() && !spy.wait(30000))
            return -1;
        QCoreApplication::processEvents(); // a second outcome would show up here
        return spy.size() == 1 ? spy.first().first().toInt() : -100 - spy.size();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.start());
        QVERIFY(school.make());
        QVERIFY(other.make());
        QVERIFY(ca.make() && otherCa.make());
        QVERIFY(ca.issue("here", {"IP:127.0.0.1"}));
        QVERIFY(ca.issue("elsewhere", {"DNS:elsewhere.example"}));
    }

    // Either spelling, backslashes as folder separators; every listed path is kept, also where two share a checksum. What
    // is not a list (as the body of a list that could not be fetched) leaves none, nor the one read before. Run first:
    // the list's first use, without qupdater.ini, fails quietly.
    void reads_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<xmlParse::FileMap>("expected");
        const xmlParse::FileMap two = md5s({{"a.txt", "AA"}, {"d/b.txt", "BB"}});
        QTest::newRow("lower") << "<update><taviversion ver=\"2.1\"/>"
                                  "<file ver=\"AA\" path=\"a.txt\"/><file ver=\"BB\" path=\"d\\b.txt\"/></update>"
                               << two;
        QTest::newRow("upper") << "<UPDATE><TAVIVERSION ver=\"2.1\"/>"
                                  "<FILE ver=\"AA\" path=\"a.txt\"/><FILE ver=\"BB\" path=\"d/b.txt\"/></UPDATE>"
                               << two;
        QTest::newRow("mixed, other elements, nested")
            << "<?xml version=\"1.0\"?><r><x ver=\"ZZ\" path=\"no\"/>"
               "<FILE ver=\"AA\" path=\"a.txt\"><file ver=\"CC\" path=\"nested\"/></FILE>"
               "<file ver=\"BB\" path=\"d/b.txt\"/><taviversion ver=\"2.1\"/></r>"
            << two;
        QTest::newRow("same checksum, two paths: both")
            << "<r><taviversion ver=\"2.1\"/><file ver=\"AA\" path=\"old.txt\"/>"
               "<file ver=\"AA\" path=\"a.txt\"/><file ver=\"BB\" path=\"d/b.txt\"/></r>"
            << md5s({{"old.txt", "AA"}, {"a.txt", "AA"}, {"d/b.txt", "BB"}});
        QTest::newRow("same path twice: the later checksum")
            << "<r><taviversion ver=\"2.1\"/><file ver=\"CC\" path=\"a.txt\"/>"
               "<file ver=\"BB\" path=\"d/b.txt\"/><file ver=\"AA\" path=\"a.txt\"/></r>"
            << two;
        xmlParse::FileMap more = md5s({{"a.txt", "AA"}, {"d/b.txt", "BB"}});
        more["a.txt"].sha256 = "ab12";
        more["a.txt"].size = 12;
        more["d/b.txt"].exec = true;
        QTest::newRow("sha256, size, exec")
            << "<r><taviversion ver=\"2.1\"/><file ver=\"AA\" sha256=\"ab12\" size=\"12\" exec=\"0\" path=\"a.txt\"/>"
               "<file ver=\"BB\" size=\"-3\" exec=\"1\" path=\"d/b.txt\"/></r>"
            << more;
        for (const char *bad : {"", "this is { not xml", "<html><body><h1>404</h1></body></html>",
                                "<r><taviversion ver=\"7\"/><file ver=\"AA\" path=\"a\">", "\x01\x01\x01\x01"})
            QTest::newRow(qPrintable("not a list: " + QString::fromLatin1(bad).left(12))) << bad << xmlParse::FileMap();
    }
    void reads()
    {
        QFETCH(QString, xml);
        QFETCH(xmlParse::FileMap, expected);
        list()->parse("<r><taviversion ver=\"5\"/><file ver=\"AA\" path=\"a\"/></r>");
        list()->parse(xml.toStdString());
        QCOMPARE(list()->version(), expected.empty() ? std::string() : std::string("2.1"));
        QCOMPARE(list()->listFiles(), expected);
    }

    // Decided per listed path: missing or not matching its own checksum, the SHA-256 where the list gives one.
    void downloadsWhatDiffers()
    {
        InstallDir dir;
        const QByteArray a("file a"), b("file b"), c("file c");
        InstallDir::write("a.txt", a); // up to date
        InstallDir::write("sub/b.txt", "old b"); // changed
        InstallDir::write("d.txt", c); // holds what the missing e.txt should
        InstallDir::write("f.txt", a); // wants c, holds what a.txt should
        InstallDir::write("g.txt", a); // up to date, same content as a.txt
        InstallDir::write("s1.txt", a); // its sha256 matches, its ver not
        InstallDir::write("s2.txt", a); // its ver matches, its sha256 not
        const QString xml =
            QStringLiteral(
                "<r><taviversion ver=\"2\"/>"
                "<file ver=\"%1\" path=\"a.txt\"/><file ver=\"%2\" path=\"sub\\b.txt\"/>"
                "<file ver=\"%3\" path=\"e.txt\"/><file ver=\"%4\" path=\"d.txt\"/>"
                "<file ver=\"%5\" path=\"lower.txt\"/><file ver=\"%3\" path=\"f.txt\"/>"
                "<file ver=\"%1\" path=\"g.txt\"/><file ver=\"%2\" path=\"h.txt\"/>"
                "<file ver=\"%2\" path=\"i.txt\"/>"
                "<file ver=\"%2\" sha256=\"%6\" path=\"s1.txt\"/><file ver=\"%1\" sha256=\"%7\" path=\"s2.txt\"/></r>")
                .arg(md5Hex(a), md5Hex(b), md5Hex(c), md5Hex("new d"), md5Hex(a).toLower(), sha256Hex(a).toUpper(),
                     sha256Hex(b));
        list()->parse(xml.toStdString());
        list()->computeDownloads();
        // Lower-case MD5s never match, so they are fetched.
        xmlParse::FileMap expected = md5s({{"sub/b.txt", md5Hex(b).toStdString()},
                                           {"e.txt", md5Hex(c).toStdString()},
                                           {"d.txt", md5Hex("new d").toStdString()},
                                           {"lower.txt", md5Hex(a).toLower().toStdString()},
                                           {"f.txt", md5Hex(c).toStdString()},
                                           {"h.txt", md5Hex(b).toStdString()},
                                           {"i.txt", md5Hex(b).toStdString()},
                                           {"s2.txt", md5Hex(a).toStdString()}});
        expected["s2.txt"].sha256 = sha256Hex(b).toStdString();
        QCOMPARE(list()->downloads(), expected);
    }

    // What an update may write: files inside the installation, but not the files that decide where updates and sign-ins
    // go, nor the launcher's and the client's own.
    void installPaths()
    {
        for (const char *path : {"a.txt", "lib/x/a.so", "..a/b..c", "tavi", "doc/etc/qupdater.ini"})
            QVERIFY2(installPathProblem(path).isEmpty(), path);
        // Outside, not plain, or the settings, key, locks, logs and downloads.
        for (const char *path :
             {"/etc/passwd", "../outside", "a/../../outside", "a/..", "./a.txt", "a//b", "", "lib/", "qupdater.ini",
              "update.pub", "etc/sysConfigue.ini", "etc", ".tavi-system", ".tavi-update", "lib/a.so.tavi_new",
              "log/tavi.log", "pic/1.png", "DownLoadTmp/run-1/a"})
            QVERIFY2(!installPathProblem(path).isEmpty(), path);
    }

    void installs_data()
    {
        QTest::addColumn<Signing>("signing");
        QTest::addColumn<bool>("keyed");
        QTest::newRow("signed") << Signing::Prehashed << true;
        QTest::newRow("legacy signature") << Signing::Legacy << true;
        QTest::newRow("no key: unchecked, with a warning") << Signing::Unsigned << false;
    }
    void installs()
    {
        QFETCH(Signing, signing);
        QFETCH(bool, keyed);
        InstallDir dir;
        InstallDir::write("keep.txt", "keep");
        InstallDir::write("lib/a.so", "old a");
        InstallDir::write("same/held.txt", "keep"); // content of another listed path
        // Among them the same file name in two folders, paths that share their content with others, files without
        // sha256, and more files than are fetched at once.
        const QString md5Only = QStringLiteral("ver=\"%1\"").arg(md5Hex("for y"));
        const QList<ListFile> files{
            {"keep.txt", "keep"},       {"lib/a.so", "new a"},     {"new/deep/b.bin", QByteArray(300 * 1024, 'x')},
            {"empty.txt", ""},          {"x/config.ini", "for x"}, {"y/config.ini", "for y", {}, md5Only},
            {"same/held.txt", "new a"}, {"same/one.txt", "twin"},  {"same/two.txt", "twin"},
            {"same/keep.txt", "keep"}};
        publish(server, "2.0", files, signing, keyed ? QByteArray() : kNoKey);
        QCOMPARE(update(), 1);
        for (const ListFile &f : files)
            QCOMPARE(InstallDir::read(f.path), f.body);
        QCOMPARE(testsupport::fileMode("lib/a.so"), 0644);
        QVERIFY(!QDir("DownLoadTmp").exists());
        QVERIFY(!QFile::exists("lib/a.so.tavi_old"));
        QVERIFY(!QFile::exists("lib/a.so.tavi_new"));
        QCOMPARE(InstallDir::read(kLog).contains("taken unchecked"), !keyed);
        // Nothing to do: every file up to date, or the list's version the installed one (then nothing is looked at).
        QCOMPARE(update(), 3);
        QFile::remove("keep.txt");
        InstallDir::setUpdater(InIOpe::listUrl(), "2.0");
        QCOMPARE(update(), 3);
        QVERIFY(!QFile::exists("keep.txt"));
    }

    // The real launcher: each refusal, and each failure of a download or of its install, installs nothing, keeps the
    // installed version, says why in the log, and the client starts.
    void refusals_data()
    {
        QTest::addColumn<Signing>("signing");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("path"); // a second listed file
        QTest::addColumn<QString>("checksums");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("reason"); // and, for a failure, its message box
        const auto row = [](const char *name, Signing signing, const char *reason, const char *path = "b.txt",
                            const char *version = "2.0", const QByteArray &key = {}) {
            QTest::newRow(name) << signing << version << path << QString() << QString() << 0 << key << reason;
        };
        row("unsigned", Signing::Unsigned, "is not signed");
        row("one byte changed", Signing::ByteChanged, "signature does not match the list");
        row("trusted comment changed", Signing::CommentChanged, "trusted comment's signature does not match");
        row("another key", Signing::OtherKey, "another key");
        row("not a key", Signing::Prehashed, "cannot be read as the school's key", "b.txt", "2.0", "RWQ garbage\n");
        row("older version", Signing::Prehashed, "is older than the installed", "b.txt", "0.9.9");
        row("climbs out", Signing::Prehashed, "not a plain path", "sub/../../escaped.txt");
        row("the school's settings", Signing::Prehashed, "the school's settings", "etc/sysConfigue.ini");
        row("the key", Signing::Prehashed, "update key", "update.pub");
        const auto failure = [](const char *name, const char *reason, HttpServer::Mode mode,
                                const QString &checksums = {}, const QString &extra = {}, const char *path = "b.txt") {
            QTest::newRow(name) << Signing::Prehashed << "2.0" << path << checksums << extra << int(mode)
                                << QByteArray() << QStringLiteral("box:程序升级失败！\n") + reason;
        };
        failure("wrong sha256", "does not match its checksum", HttpServer::Mode::Normal,
                QStringLiteral("ver=\"%1\" sha256=\"%2\"").arg(md5Hex(kBody), sha256Hex("other b")));
        failure("connection breaks half-way", "update failed", HttpServer::Mode::BreakHalfway);
        failure("http 404", "update failed", HttpServer::Mode::NotFound);
        failure("content differs from its md5", "update failed", HttpServer::Mode::Normal,
                QStringLiteral("ver=\"%1\"").arg(md5Hex("something else")));
        failure("larger than its size", "update failed", HttpServer::Mode::Normal, {}, QStringLiteral("size=\"1000\""));
        failure("folder where a file goes", "update failed", HttpServer::Mode::Normal, {}, {}, "b.txt/inside");
    }
    void refusals()
    {
        QFETCH(Signing, signing);
        QFETCH(QString, version);
        QFETCH(QString, path);
        QFETCH(QString, checksums);
        QFETCH(QString, extra);
        QFETCH(int, mode);
        QFETCH(QByteArray, key);
        QFETCH(QString, reason);
        InstallDir dir;
        QDir().mkpath("inst");
        QDir::setCurrent("inst");
        InstallDir::write("libtaviMainLib.so", InstallDir::read(FAKELIB_OK));
        InstallDir::write("a.txt", "old a");
        const QString held = path.endsWith("/inside") ? path : QStringLiteral("b.txt");
        InstallDir::write(held, "old b"); // a folder in the way where the list's b.txt goes
        path.remove("/inside");
        InstallDir::write("etc/sysConfigue.ini", "[TaviHttp]\nUrl=http://school\n");
        publish(server, version, {{"a.txt", "new a"}, {path, kBody, HttpServer::Mode(mode), checksums, extra}}, signing,
                key);
        const QByteArray pub = InstallDir::read("update.pub");
        const int fetched = server.fileRequests();
        const QString boxes = reason.startsWith("box:") ? reason.section('\n', 0, 0) + '\n' : QString();
        QCOMPARE(runChild({"--launcher"}), boxes + "version:1.0\nexit:0\n");
        QVERIFY(QFile::exists("mainStart.called"));
        const QByteArray log = InstallDir::read(kLog);
        QVERIFY2(log.contains("nothing installed: ") && log.contains(reason.section('\n', -1).toUtf8()),
                 log.constData());
        QCOMPARE(InstallDir::read("a.txt"), QByteArray("old a"));
        QCOMPARE(InstallDir::read(held), QByteArray("old b"));
        QCOMPARE(InstallDir::read("etc/sysConfigue.ini"), QByteArray("[TaviHttp]\nUrl=http://school\n"));
        QCOMPARE(InstallDir::read("update.pub"), pub);
        QVERIFY(!QFile::exists("../escaped.txt"));
        if (boxes.isEmpty())
            QCOMPARE(server.fileRequests(), fetched); // refused before any download
        QVERIFY(!QFile::exists("a.txt.tavi_old") && !QFile::exists("a.txt.tavi_new"));
        QVERIFY(!QDir("DownLoadTmp").exists());
    }

    // In a user's folder of links into the system's installation, an
    // update of programs keeps them runnable, tavi itself included.
    void programsStayRunnable()
    {
        QTemporaryDir trees;
        const QString system = trees.filePath("opt/tavi");
        const QString user = trees.filePath("home/tavi");
        const QByteArray launcher = InstallDir::read(TAVI_EXE);
        const QByteArray player = InstallDir::read(TAVI_PLAY_EXE);
        for (const auto &file : {std::make_pair("tavi", launcher), std::make_pair("tavi-play", player)}) {
            InstallDir::write(system + "/" + file.first, file.second);
            QVERIFY(QFile::setPermissions(system + "/" + file.first, QFile::Permissions(0x7755)));
        }
        InstallDir::write(system + "/libtaviMainLib.so", InstallDir::read(FAKELIB_OK));
        InstallDir::write(system + "/update.pub", school.publicKey());
        InstallDir::write(system + "/qupdater.ini", "[UPDATEINFO]\nListURL=\n\n[VERSION]\nVersion=1.0\n");
        UserFolder folder(system, user);
        QVERIFY2(folder.update(), qPrintable(folder.errorString()));
        QCOMPARE(QFile::symLinkTarget(user + "/update.pub"), system + "/update.pub");
        const QString previous = QDir::currentPath();
        QDir::setCurrent(user);
        // The new builds: the same programs with a byte more at the end.
        publish(server, "2.0",
                {{"tavi", launcher + '\n'},
                 {"tavi-play", player + '\n'},
                 {"tool.sh", "#!/bin/sh\necho tool runs\n", {}, {}, "exec=\"1\""},
                 {"doc/new.txt", "notes"}},
                Signing::Prehashed, kKeepKey); // the folder's link to the system's
        const int outcome = update();
        // Files of their own, not links (0777).
        const QList<int> modes{testsupport::fileMode("tavi"), testsupport::fileMode("tavi-play"),
                               testsupport::fileMode("tool.sh"), testsupport::fileMode("doc/new.txt")};
        QProcess play, tool, tavi;
        play.start("./tavi-play", QStringList());
        tool.start("./tool.sh", QStringList());
        tavi.start("./tavi", QStringList());
        for (QProcess *p : {&play, &tool, &tavi})
            p->waitForFinished(30000);
        const QByteArray played = play.readAllStandardError(), toolOut = tool.readAllStandardOutput();
        const bool started = QFile::exists("mainStart.called");
        QDir::setCurrent(previous);
        QCOMPARE(outcome, 1);
        QCOMPARE(modes, QList<int>({0755, 0755, 0755, 0644}));
        QVERIFY2(played.contains("usage: tavi-play"), played.constData());
        QCOMPARE(toolOut, QByteArray("tool runs\n"));
        QCOMPARE(tavi.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tavi.exitCode(), 0);
        QVERIFY(started);
        QCOMPARE(InstallDir::read(system + "/tavi"), launcher); // the system's stays as it was
    }

    // A double click: the second start runs what is installed while the
    // first updates; nothing is fetched twice or installed half.
    void twoLaunchersAtOnce()
    {
        InstallDir dir;
        InstallDir::write("libtaviMainLib.so", InstallDir::read(FAKELIB_OK));
        InstallDir::write("a.txt", "old a");
        const QString folder = publish(
            server, "2.0", {{"a.txt", "new a"}, {"slow.bin", QByteArray(64 * 1024, 's'), HttpServer::Mode::Stall}});
        QProcess first;
        first.start(QCoreApplication::applicationFilePath(), {"--launcher"});
        QTRY_COMPARE_WITH_TIMEOUT(server.requests(folder + "slow.bin"), 1, 30000);
        QCOMPARE(runChild({"--launcher"}), QStringLiteral("version:1.0\nexit:0\n"));
        QVERIFY(InstallDir::read(kLog).contains("another start is updating"));
        QCOMPARE(first.state(), QProcess::Running);
        server.release();
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(first.readAllStandardOutput()),
                 QStringLiteral("box:程序升级成功！\nversion:2.0\nexit:0\n"));
        QCOMPARE(InstallDir::read("a.txt"), QByteArray("new a"));
        QCOMPARE(InstallDir::read("slow.bin"), QByteArray(64 * 1024, 's'));
        QCOMPARE(server.requests(folder + "a.txt"), 1);
        QCOMPARE(server.requests(folder + "slow.bin"), 1);
        QVERIFY(!QDir("DownLoadTmp").exists());
    }

    // An https list and its files, checked against the authority that SSL_CERT_FILE names, both by the list's fetch and
    // by the downloads. A list that arrives a byte at a time holds the start no longer than the list's time limit.
    void https_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("ourCa");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("trickles");
        QTest::newRow("trusted") << QStringLiteral("here") << true << true << false;
        QTest::newRow("certificate for another host") << QStringLiteral("elsewhere") << true << false << false;
        QTest::newRow("unknown authority") << QStringLiteral("here") << false << false << false;
        QTest::newRow("list trickles") << QStringLiteral("here") << true << true << true;
    }
    void https()
    {
        QFETCH(QString, certificate);
        QFETCH(bool, ourCa);
        QFETCH(bool, trusted);
        QFETCH(bool, trickles);
        HttpServer tls(ca.certificate(certificate), ca.key(certificate));
        QVERIFY(tls.start());
        InstallDir dir;
        const QString folder = publish(tls, "2.0", {{"a.txt", "new a"}});
        if (trickles)
            tls.setFile(folder + "list.xml", QByteArray(4096, ' '), HttpServer::Mode::Trickle);
        qputenv("SSL_CERT_FILE", QFile::encodeName((ourCa ? ca : otherCa).caFile()));
        QElapsedTimer clock;
        clock.start();
        const int outcome = update();
        const qint64 took = clock.elapsed();
        tls.release();
        const bool installs = trusted && !trickles;
        DownLoadManager direct;
        QSignalSpy done(&direct, &DownLoadManager::signalReplyFinished);
        QSignalSpy failed(&direct, &DownLoadManager::signalDownloadError);
        direct.downloadFile(tls.url(folder + "a.txt"), "direct.txt");
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty() || !failed.isEmpty(), 30000);
        qunsetenv("SSL_CERT_FILE");
        QVERIFY2(took < curlOpe::kListTimeLimitMs + 5000, qPrintable(QString::number(took)));
        QCOMPARE(outcome, installs ? 1 : 4);
        QCOMPARE(InstallDir::read("a.txt"), installs ? QByteArray("new a") : QByteArray("<missing>"));
        QCOMPARE(done.size(), trusted ? 1 : 0);
        QCOMPARE(InstallDir::read("direct.txt"), trusted ? QByteArray("new a") : QByteArray("<missing>"));
        if (!installs)
            QVERIFY(xmlParse::instance()->refusal().contains("could not be fetched"));
    }

    void cancelInstallsNothing()
    {
        InstallDir dir;
        InstallDir::write("a.txt", "old a");
        publish(server, "2.0", {{"a.txt", "new a"}, {"slow.bin", QByteArray(64 * 1024, 's'), HttpServer::Mode::Stall}});
        xmlParse::instance()->reload();
        updateCtrl ctrl;
        QSignalSpy spy(&ctrl, &updateCtrl::s_mainSatart);
        ctrl.start();
        QProgressDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = testsupport::shown<QProgressDialog>()));
        dialog->findChild<QPushButton *>()->click();
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().first().toInt(), 3);
        QVERIFY(!dialog->isVisible());
        // The stalled transfer is ended with the update: nothing lands later.
        QVERIFY(!QDir("DownLoadTmp").exists());
        server.release();
        QCOMPARE(InstallDir::read("a.txt"), QByteArray("old a"));
        QVERIFY(!QFile::exists("slow.bin"));
    }

    // The hand-off in the real launcher: nothing to install records the list's version and starts the library; one that
    // cannot start is told. (The messages of the other outcomes are the refusals' and the two launchers'.)
    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("library"); // libtaviMainLib.so; none if empty
        QTest::addColumn<bool>("fails"); // a listed file is not found, instead of nothing to do
        QTest::addColumn<QString>("output");
        QTest::newRow("nothing to do") << InstallDir::read(FAKELIB_OK) << false << "version:7.5\nexit:0\n";
        QTest::newRow("library missing") << QByteArray() << false
                                         << "box:libtaviMainLib.so加载失败！\nversion:7.5\nexit:1\n";
        QTest::newRow("library without mainStart")
            << InstallDir::read(FAKELIB_NOEXPORT) << true
            << "box:程序升级失败！\nbox:mainStart函数加载失败！\nversion:1.0\nexit:1\n";
    }
    void outcomes()
    {
        QFETCH(QByteArray, library);
        QFETCH(bool, fails);
        QFETCH(QString, output);
        InstallDir dir;
        InstallDir::write("a.txt", "new a");
        if (!library.isEmpty())
            InstallDir::write("libtaviMainLib.so", library);
        QList<ListFile> files{{"a.txt", "new a"}};
        if (fails)
            files.append({"b.txt", "new b", HttpServer::Mode::NotFound});
        publish(server, "7.5", files);
        QCOMPARE(runChild({"--launcher"}), output);
        QCOMPARE(QFile::exists("mainStart.called"), library == InstallDir::read(FAKELIB_OK));
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--launcher") == 0)
        return child(argc, argv);
    QApplication application(argc, argv);
    TestUpdate test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launcher_update.moc"
