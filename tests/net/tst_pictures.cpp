#include "demoschool.h"
#include "testsupport.h"
#include "widgets.h"

#include "net/avatarcache.h"
#include "net/avatarloader.h"
#include "net/bitmaphttp.h"
#include "net/bitmaplabel.h"
#include "net/picture.h"
#include "net/tavihttp.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QtTest>

namespace {

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

// A picture of the loader, waited for: the image and whether it came
// at once (from the cache, or refused without a request).
struct Got
{
    QImage image;
    bool atOnce = false;
};
Got fetch(AvatarLoader &loader, const QString &address, const QString &key)
{
    QSignalSpy spy(&loader, &AvatarLoader::picture);
    loader.request(address, key);
    Got got;
    got.atOnce = !spy.isEmpty();
    if (spy.isEmpty() && !spy.wait(10000))
        return got;
    got.image = spy.first().at(1).value<QImage>();
    return got;
}
QImage fallback()
{
    return tavi::readPictureFile(tavi::kFallbackPicture, QSize(20, 20));
}

} // namespace

using testsupport::sameImage;

class TestPictures : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;
    QStringList told; // what the web client told the user

private slots:
    void initTestCase()
    {
        QVERIFY(school.start() && school.writeSysConfig());
        TaviHttp::setFailureHandler([this](const QString &text) { told << text; });
    }

    void init()
    {
        // The working directory is this test's own scratch folder.
        QDir(QStringLiteral("pic")).removeRecursively();
        told.clear();
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
        QVERIFY(sameImage(label.currentPixmap().toImage(), QPixmap::fromImage(fallback()).toImage()));
        QCOMPARE(told, QStringList{QStringLiteral("网络请求失败")});
    }

    void cacheMissStoresSmallPictureThenNeedsNoNetwork()
    {
        AvatarLoader loader;
        const Got first = fetch(loader, school.baseUrl() + "/avatar/20001.png", "20001");
        QVERIFY(!first.atOnce);
        QCOMPARE(first.image.size(), QSize(20, 20));
        // Written by the loader's own thread: the user's alone.
        QTRY_VERIFY(QFile::exists("./pic/20001.png"));
        QTRY_COMPARE(QImage("./pic/20001.png").size(), QSize(20, 20));
        QCOMPARE(testsupport::fileMode("./pic/20001.png"), 0600);
        QCOMPARE(testsupport::fileMode("./pic"), 0700);
        // Nothing listens here: only the stored file can answer, at once.
        const QString dead = QStringLiteral("http://127.0.0.1:%1/avatar/20001.png").arg(testsupport::freePort());
        AvatarLoader other;
        const Got cached = fetch(other, dead, "20001");
        QVERIFY(cached.atOnce);
        QVERIFY(sameImage(cached.image, first.image));
    }

    void cacheTimeOutAndFailureStoreNothing()
    {
        AvatarLoader loader;
        loader.setTimeout(300);
        QElapsedTimer clock;
        clock.start();
        const QString slow = school.baseUrl() + "/demo/slow?ms=20000";
        QVERIFY(sameImage(fetch(loader, slow, "slow").image, fallback()));
        QVERIFY(clock.elapsed() < 10000);
        const QString missing = school.baseUrl() + "/avatar/99999.png";
        QVERIFY(sameImage(fetch(loader, missing, "gone").image, fallback()));
        QVERIFY(sameImage(fetch(loader, school.baseUrl() + "/", "page").image, fallback()));
        QVERIFY(
            sameImage(fetch(loader, QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::freePort()), "dead").image,
                      fallback()));
        QCoreApplication::processEvents();
        QVERIFY(filesBelow("pic").isEmpty());

        // An address that failed is not asked again in this run, for any key.
        for (const QString &address : {slow, missing}) {
            const Got again = fetch(loader, address, "again");
            QVERIFY(again.atOnce);
            QVERIFY(sameImage(again.image, fallback()));
        }
        // A failed key is asked again at another address.
        const Got other = fetch(loader, school.baseUrl() + "/avatar/10001.png", "gone");
        QVERIFY(!other.atOnce);
        QCOMPARE(other.image.size(), QSize(20, 20));
        QTRY_VERIFY(QFile::exists("./pic/gone.png"));
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
        const QString path = avatarCachePath(key);
        QVERIFY2(path.startsWith("./pic/"), qPrintable(path));
        QVERIFY(!path.mid(6).contains('/'));
        AvatarLoader loader;
        QCOMPARE(fetch(loader, school.baseUrl() + "/avatar/10001.png", key).image.size(), QSize(20, 20));
        QTRY_VERIFY(QFile::exists(path));
        QVERIFY(!QFile::exists("/tmp/tavi-evil.png"));
        QVERIFY(!QFile::exists("../evil.png"));
        // The only new file is the cached one.
        QStringList after = filesBelow(".");
        for (const QString &file : before)
            after.removeOne(file);
        QCOMPARE(after, QStringList{QDir(".").relativeFilePath(path)});
        // Same key, same file.
        QVERIFY(fetch(loader, QString(), key).atOnce);
    }
};

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
