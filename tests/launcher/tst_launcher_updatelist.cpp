// Reading the update list and choosing the files to fetch.
#include "installdir.h"
#include "testsupport.h"
#include "xmlparse.h"

#include <QtTest>

Q_DECLARE_METATYPE(xmlParse::FileMap)

namespace {

// Listed files with their "ver" only.
xmlParse::FileMap md5s(const std::map<std::string, std::string> &sums)
{
    xmlParse::FileMap files;
    for (const auto &entry : sums)
        files[entry.first].md5 = entry.second;
    return files;
}

} // namespace

class TestUpdateList : public QObject
{
    Q_OBJECT

    xmlParse *list() { return xmlParse::instance(); }

private slots:
    // Run first: without qupdater.ini the first fetch, on first use, fails
    // quietly; so does one from a port nobody listens on.
    void unfetchableListIsEmpty()
    {
        InstallDir dir;
        QCOMPARE(list()->version(), std::string());
        QVERIFY(list()->listFiles().empty());
        dir.setUpdater(QStringLiteral("http://127.0.0.1:%1/list.xml").arg(testsupport::freePort()), QString());
        list()->parse("<r><taviversion ver=\"5\"/></r>");
        list()->reload();
        QCOMPARE(list()->version(), std::string());
        QVERIFY(list()->listFiles().empty());
    }

    // Either spelling, backslashes as folder separators; every listed path is kept, also where two share a checksum.
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
    }
    void reads()
    {
        QFETCH(QString, xml);
        QFETCH(xmlParse::FileMap, expected);
        list()->parse(xml.toStdString());
        QCOMPARE(list()->version(), std::string("2.1"));
        QCOMPARE(list()->listFiles(), expected);
    }

    void badListsAreEmpty_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("not xml") << "this is { not xml";
        QTest::newRow("html error page") << "<html><body><h1>404</h1></body></html>";
        QTest::newRow("unclosed") << "<r><taviversion ver=\"7\"/><file ver=\"AA\" path=\"a\">";
        QTest::newRow("binary") << QString::fromLatin1(QByteArray(64, '\x01'));
    }
    void badListsAreEmpty()
    {
        QFETCH(QString, text);
        list()->parse("<r><taviversion ver=\"5\"/><file ver=\"AA\" path=\"a\"/></r>");
        list()->parse(text.toStdString());
        QVERIFY(list()->listFiles().empty());
        QCOMPARE(list()->version(), std::string());
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
    void installPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("allowed");
        for (const char *path : {"a.txt", "lib/x/a.so", "..a/b..c", "tavi", "doc/etc/qupdater.ini"})
            QTest::newRow(path) << path << true;
        // Outside, not plain, or the settings, key, locks, logs and downloads.
        for (const char *path :
             {"/etc/passwd", "../outside", "a/../../outside", "a/..", "./a.txt", "a//b", "", "lib/", "qupdater.ini",
              "update.pub", "etc/sysConfigue.ini", "etc", ".tavi-system", ".tavi-update", "lib/a.so.tavi_new",
              "log/tavi.log", "pic/1.png", "DownLoadTmp/run-1/a"})
            QTest::newRow(*path ? path : "empty") << path << false;
    }
    void installPaths()
    {
        QFETCH(QString, path);
        QFETCH(bool, allowed);
        QCOMPARE(installPathProblem(path).isEmpty(), allowed);
    }
};

QTEST_MAIN(TestUpdateList)
#include "tst_launcher_updatelist.moc"
