#include "demoschool.h"
#include "testsupport.h"
#include "widgets.h"

#include "net/avatarcache.h"
#include "net/bitmaphttp.h"
#include "net/bitmaplabel.h"
#include "net/flash.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QtTest>

namespace {

// Whether a failure notice is open; all notices are closed.
bool takeFailureNotice()
{
    return testsupport::takeNotice<Flash>(QStringLiteral("网络请求失败"));
}

// Every file below dir, relative to it.
QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;

private slots:
    void initTestCase()
    {
        QVERIFY(school.start());
        QVERIFY(school.writeSysConfig());
    }

    void init()
    {
        // The working directory is this test's own scratch folder.
        QDir(QStringLiteral("pic")).removeRecursively();
        takeFailureNotice();
    }

    void labelFallsBackOnBadAnswers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing picture") << "/avatar/99999.png";
        QTest::newRow("not a picture") << "/";
        QTest::newRow("server error") << "/demo/status?code=500";
    }

    void labelFallsBackOnBadAnswers()
    {
        QFETCH(QString, path);
        BitmapLabel label(QString(), 20, 20);
        label.setBitmap(school.baseUrl() + path);
        QTRY_VERIFY(!label.currentPixmap().isNull());
        QCOMPARE(label.currentPixmap().toImage(), QPixmap(":/images/sys/man").toImage());
        QVERIFY(takeFailureNotice());
    }

    void cacheMissStoresSmallPictureThenNeedsNoNetwork()
    {
        const QString path = avatarPath(school.baseUrl() + "/avatar/20001.png", "20001");
        QCOMPARE(path, QString("./pic/20001.png"));
        QCOMPARE(QImage(path).size(), QSize(20, 20));
        // Nothing listens here: only the stored file can answer.
        const QString dead = QStringLiteral("http://127.0.0.1:%1/avatar/20001.png").arg(testsupport::freePort());
        QCOMPARE(avatarPath(dead, "20001"), path);
    }

    void cacheTimeOutAndFailureStoreNothing()
    {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(avatarPath(school.baseUrl() + "/demo/slow?ms=20000", "slow", 300), QString(":/images/sys/man"));
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY(!QFile::exists("./pic/slow.png"));

        QCOMPARE(avatarPath(school.baseUrl() + "/avatar/99999.png", "gone"), QString(":/images/sys/man"));
        QCOMPARE(avatarPath(school.baseUrl() + "/", "page"), QString(":/images/sys/man"));
        QCOMPARE(avatarPath(QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::freePort()), "dead"),
                 QString(":/images/sys/man"));
        QVERIFY(filesBelow("pic").isEmpty());

        // The next use of a failed key tries again.
        QCOMPARE(avatarPath(school.baseUrl() + "/avatar/10001.png", "gone"), QString("./pic/gone.png"));
    }

    void cacheKeysNeverLeaveTheFolder_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("parent") << "../evil";
        QTest::newRow("deep parent") << "a/../../../evil";
        QTest::newRow("absolute") << "/tmp/tavi-evil";
        QTest::newRow("dot dot") << "..";
        QTest::newRow("dot") << ".";
        QTest::newRow("empty") << "";
        QTest::newRow("backslash") << "..\\..\\evil";
        QTest::newRow("nul") << QString::fromUtf16(u"a\u0000b", 3);
        QTest::newRow("long") << QString(1000, QLatin1Char('x'));
        QTest::newRow("unicode") << "王小明";
    }

    void cacheKeysNeverLeaveTheFolder()
    {
        QFETCH(QString, key);
        const QStringList before = filesBelow(".");
        const QString path = avatarPath(school.baseUrl() + "/avatar/10001.png", key);
        QVERIFY2(path.startsWith("./pic/"), qPrintable(path));
        QVERIFY(!path.mid(6).contains('/'));
        QVERIFY(QFile::exists(path));
        QVERIFY(!QFile::exists("/tmp/tavi-evil.png"));
        QVERIFY(!QFile::exists("../evil.png"));
        // The only new file is the cached one.
        QStringList after = filesBelow(".");
        for (const QString &file : before)
            after.removeOne(file);
        QCOMPARE(after, QStringList{QDir(".").relativeFilePath(path)});
        // Same key, same file.
        QCOMPARE(avatarPath(QString(), key), path);
    }
};

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
