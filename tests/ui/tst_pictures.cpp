// Every built-in picture the windows ask for must resolve in the resources, as a real image, under the exact name the
// code uses; a hover twin must have its picture's size, which the button takes. Its SVG source draws it at that size,
// with the device's pixels at 200 %.
#include "ui/builtinpicture.h"

#include <QFile>
#include <QImage>
#include <QTest>

class PicturesTest : public QObject
{
    Q_OBJECT
private slots:
    void resolves_data();
    void resolves();
};

void PicturesTest::resolves_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("twin");
    const char *const plain[] = {"bg",  "dialog_question", "emptyCourse", "exit", "head", "look", "man", "show", "tavi",
                                 "web", "volumn"};
    for (const char *name : plain)
        QTest::newRow(name) << QString(":/images/sys/") + name << QString();
    const char *const hovered[] = {"close", "dialog_close", "left", "right", "logo",    "max",
                                   "min",   "play",         "stop", "radio", "scroTop", "scroBottom"};
    for (const char *name : hovered) {
        const QString path = QString(":/images/sys/") + name;
        QTest::newRow(name) << path << path + (path.startsWith(":/images/sys/scro") ? "_hove" : "_hover");
    }
}

void PicturesTest::resolves()
{
    QFETCH(QString, path);
    QFETCH(QString, twin);
    const QImage image(path);
    QVERIFY2(QFile::exists(path) && !image.isNull() && !image.size().isEmpty(), qPrintable(path));
    if (!twin.isEmpty()) {
        QVERIFY2(QFile::exists(twin), qPrintable(twin));
        QCOMPARE(QImage(twin).size(), image.size());
    }
    if (path.endsWith("volumn") || path.contains("scro"))
        return; // style sheets draw these
    QCOMPARE(builtinPictureSize(path), image.size());
    const QPixmap sharp = builtinPicture(path, 2);
    QCOMPARE(sharp.size(), image.size() * 2);
    QCOMPARE(sharp.devicePixelRatio(), 2.0);
}

QTEST_MAIN(PicturesTest)
#include "tst_pictures.moc"
