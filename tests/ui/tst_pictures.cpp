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
    void styleSheetFormResolves();
    void hoverTwinsMatchTheirPicture();
    void picturesFitTheirStrips();
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

void PicturesTest::styleSheetFormResolves()
{
    // The volume slider's style sheet names it without the leading slash.
    QVERIFY(!QImage(":images/sys/volumn").isNull());
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

void PicturesTest::picturesFitTheirStrips()
{
    // Picture buttons take their picture's size, so a picture taller than
    // the strip that holds it would stretch or clip that strip.
    const struct
    {
        const char* name;
        int maxHeight;
    } fits[] = {
        {"logo", 38}, {"min", 38}, {"max", 38}, {"close", 25}, // title bar, notice header
        {"dialog_close", 24},                                 // question box header
        {"dialog_question", 60},                              // sign-in header below its margin
        {"play", 44}, {"stop", 44}, {"radio", 44},            // control bar row
        {"scroTop", 9}, {"scroBottom", 9},                    // scroll-bar arrows
        {"look", 40},
    };
    for (const auto& fit : fits) {
        const QImage image(QString(":/images/sys/") + fit.name);
        QVERIFY2(image.height() <= fit.maxHeight, fit.name);
    }
    QVERIFY(QImage(":/images/sys/scroTop").width() <= 8);
    // the classroom background is stretched over the screen: wide, not tiny
    QVERIFY(QImage(":/images/sys/bg").width() >= 1280);
}

QTEST_GUILESS_MAIN(PicturesTest)
#include "tst_pictures.moc"
