#include "demoschool.h"
#include "testsupport.h"

#include "net/avatarcache.h"
#include "net/bitmaphttp.h"
#include "net/bitmaplabel.h"
#include "net/flash.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QtTest>

namespace {

bool flashShown(const QString &text)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *flash = qobject_cast<Flash *>(widget))
            if (flash->isVisible() && flash->text() == text)
                return true;
    }
    return false;
}

void closeFlashes()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<Flash *>(widget))
            delete widget;
    }
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

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void labelFallsBackOnBadAnswers_data();
    void labelFallsBackOnBadAnswers();
    void cacheMissFetchesAndStoresSmallPicture();
    void cacheHitNeedsNoNetwork();
    void cacheTimeOutAndFailureStoreNothing();
    void cacheKeysNeverLeaveTheFolder_data();
    void cacheKeysNeverLeaveTheFolder();

private:
    testsupport::DemoSchool school;
    QString man;
};

void TestPictures::initTestCase()
{
    QVERIFY(school.start());
    QVERIFY(school.writeSysConfig());
    // The working directory is this test's own scratch folder.
    QDir(QStringLiteral("pic")).removeRecursively();
}

void TestPictures::init()
{
    QDir(QStringLiteral("pic")).removeRecursively();
}

void TestPictures::cleanup()
{
    closeFlashes();
}

void TestPictures::labelFallsBackOnBadAnswers_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing picture") << "/avatar/99999.png";
    QTest::newRow("not a picture") << "/";
    QTest::newRow("server error") << "/demo/status?code=500";
}

void TestPictures::labelFallsBackOnBadAnswers()
{
    QFETCH(QString, path);
    const QImage man = QPixmap(":/images/sys/man").toImage();
    BitmapLabel label(QString(), 20, 20);
    label.setBitmap(school.baseUrl() + path);
    QTRY_VERIFY(!label.currentPixmap().isNull());
    QCOMPARE(label.currentPixmap().toImage(), man);
    QVERIFY(flashShown(QStringLiteral("网络请求失败")));
}

void TestPictures::cacheMissFetchesAndStoresSmallPicture()
{
    QVERIFY(!QDir(QStringLiteral("pic")).exists());
    const QString path = avatarPath(school.baseUrl() + "/avatar/20001.png", "20001");
    QCOMPARE(path, QString("./pic/20001.png"));
    QImage stored(path);
    QVERIFY(!stored.isNull());
    QCOMPARE(stored.size(), QSize(20, 20));
}

void TestPictures::cacheHitNeedsNoNetwork()
{
    QCOMPARE(avatarPath(school.baseUrl() + "/avatar/30001.png", "30001"), QString("./pic/30001.png"));
    // Nothing listens here: only the stored file can answer.
    const QString dead = QStringLiteral("http://127.0.0.1:%1/avatar/30001.png").arg(testsupport::freePort());
    QCOMPARE(avatarPath(dead, "30001"), QString("./pic/30001.png"));
}

void TestPictures::cacheTimeOutAndFailureStoreNothing()
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

void TestPictures::cacheKeysNeverLeaveTheFolder_data()
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

void TestPictures::cacheKeysNeverLeaveTheFolder()
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

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
