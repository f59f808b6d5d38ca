// Every built-in picture the windows ask for must resolve in the resources,
// as a real image, under the exact name the code uses.
#include <QFile>
#include <QImage>
#include <QTest>

class PicturesTest : public QObject
{
    Q_OBJECT
private slots:
    void resolves_data();
    void resolves();
    void hoverTwinsMatchTheirPicture();
};

void PicturesTest::resolves_data()
{
    QTest::addColumn<QString>("path");
    const char* const names[] = {
        "bg", "close", "dialog_close", "dialog_question", "emptyCourse", "exit", "head",
        "left", "logo", "look", "man", "max", "min", "play", "radio", "right", "scroBottom",
        "scroBottom_hove", "scroTop", "scroTop_hove", "show", "stop", "tavi", "web", "volumn",
        // hover twins of the pictures painted buttons show
        "close_hover", "dialog_close_hover", "left_hover", "right_hover", "logo_hover",
        "max_hover", "min_hover", "play_hover", "stop_hover", "radio_hover"};
    for (const char* name : names) {
        const QString path = QString(":/images/sys/") + name;
        QTest::newRow(name) << path;
    }
}

void PicturesTest::resolves()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QVERIFY(image.width() > 0 && image.height() > 0);
}

void PicturesTest::hoverTwinsMatchTheirPicture()
{
    // A button takes its picture's size; the hover picture must fit it.
    for (const char* name : {"close", "dialog_close", "left", "right", "logo", "max", "min",
                             "play", "stop", "radio"}) {
        const QString path = QString(":/images/sys/") + name;
        QCOMPARE(QImage(path + "_hover").size(), QImage(path).size());
    }
    QCOMPARE(QImage(":/images/sys/scroTop_hove").size(), QImage(":/images/sys/scroTop").size());
    QCOMPARE(QImage(":/images/sys/scroBottom_hove").size(),
             QImage(":/images/sys/scroBottom").size());
}

QTEST_GUILESS_MAIN(PicturesTest)
#include "tst_pictures.moc"
