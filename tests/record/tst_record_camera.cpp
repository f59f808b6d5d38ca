// The teacher's camera in the published picture: where the compositor puts it, and recordings of the test display
// with FFmpeg's test source (or a file, or a pipe whose writer is killed) as the camera.

#include "testsupport.h"

#include "record/camerathread.h"
#include "record/picturecompositor.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <sys/stat.h>

namespace {
constexpr int kDesktopY = 41; // blue-ish
constexpr int kCameraY = 81; // red-ish

std::vector<uint8_t> plane(int w, int h, uint8_t y)
{
    std::vector<uint8_t> picture(size_t(w) * h * 3 / 2, 128);
    std::fill(picture.begin(), picture.begin() + w * h, y);
    return picture;
}

// The picture of a file a moment before its end, as RGB.
QImage lastPicture(const QString &file)
{
    QByteArray png;
    if (!testsupport::run(
            QStringLiteral("ffmpeg"),
            {"-v", "error", "-sseof", "-0.3", "-i", file, "-frames:v", "1", "-f", "image2pipe", "-c:v", "png", "-"},
            20000, &png))
        return QImage();
    return QImage::fromData(png).convertToFormat(QImage::Format_RGB32);
}

bool isRed(QRgb c)
{
    return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80;
}
bool isBlue(QRgb c)
{
    return qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80;
}
bool isBlack(QRgb c)
{
    return qRed(c) < 40 && qGreen(c) < 40 && qBlue(c) < 40;
}

// The whole display in one colour, over everything else.
struct Backdrop : QWidget
{
    Backdrop()
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, Qt::blue);
        setPalette(p);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
        show();
    }
};

QJsonObject videoStream(const QString &file)
{
    const QJsonObject probe = testsupport::probe(file);
    for (const QJsonValue &stream : probe.value(QStringLiteral("streams")).toArray())
        if (stream.toObject().value(QStringLiteral("codec_type")).toString() == QLatin1String("video"))
            return stream.toObject();
    return QJsonObject();
}
} // namespace

class tst_record_camera : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Failures are read from the signals here, not shown.
        recordNotice::setHandler([](const QString &) {});
    }

    // The inset sits a fifth of the width wide in the chosen corner, in a light frame, and the desktop keeps the
    // rest; the camera alone fills the height on black bars.
    void compositorPlaces_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("corner");
        QTest::addColumn<QRect>("place");
        const int inset = int(CameraMode::Inset);
        QTest::newRow("bottom right") << inset << int(CameraCorner::BottomRight) << QRect(1504, 760, 384, 288);
        QTest::newRow("bottom left") << inset << int(CameraCorner::BottomLeft) << QRect(32, 760, 384, 288);
        QTest::newRow("top right") << inset << int(CameraCorner::TopRight) << QRect(1504, 32, 384, 288);
        QTest::newRow("top left") << inset << int(CameraCorner::TopLeft) << QRect(32, 32, 384, 288);
        QTest::newRow("camera alone") << int(CameraMode::Only) << int(CameraCorner::TopLeft)
                                      << QRect(240, 0, 1440, 1080);
    }
    void compositorPlaces()
    {
        QFETCH(int, mode);
        QFETCH(int, corner);
        QFETCH(QRect, place);
        const int w = 1920, h = 1080;
        PictureCompositor compositor;
        compositor.setPictureSize(QSize(w, h));
        compositor.setMode(CameraMode(mode));
        compositor.setCorner(CameraCorner(corner));
        const QSize size = compositor.cameraSize(QSize(640, 480));
        QCOMPARE(size, place.size());
        compositor.setCameraPicture(
            std::make_shared<std::vector<uint8_t>>(plane(size.width(), size.height(), kCameraY)), size);
        QCOMPARE(compositor.cameraRect(), place);
        QCOMPARE(compositor.coversDesktop(), CameraMode(mode) == CameraMode::Only);

        std::vector<uint8_t> picture = plane(w, h, kDesktopY);
        QVERIFY(compositor.compose(picture.data(), w, h));
        const auto y = [&](int x, int row) { return int(picture[size_t(row) * w + x]); };
        for (const QPoint &p : {place.topLeft(), place.bottomRight(), place.center()})
            QCOMPARE(y(p.x(), p.y()), kCameraY);
        const int outside = CameraMode(mode) == CameraMode::Only ? 16 : kDesktopY;
        QCOMPARE(y(place.left() - 40 > 0 ? place.left() - 40 : place.right() + 40, place.center().y()), outside);
        if (CameraMode(mode) == CameraMode::Inset) {
            // The frame, then the desktop.
            QCOMPARE(y(place.left() - 1, place.center().y()), 200);
            QCOMPARE(y(place.center().x(), place.bottom() + 1), 200);
            QCOMPARE(y(w - 1, h - 1) == kDesktopY || y(0, 0) == kDesktopY, true);
        }
    }

    // A picture made for another mode or class size is left out until one of the right size comes; off takes it
    // away.
    void stalePicturesAreLeftOut()
    {
        PictureCompositor compositor;
        compositor.setPictureSize(QSize(1280, 720));
        compositor.setMode(CameraMode::Inset);
        const QSize inset = compositor.cameraSize(QSize(640, 480));
        compositor.setCameraPicture(std::make_shared<std::vector<uint8_t>>(plane(inset.width(), inset.height(), 81)),
                                    inset);
        QVERIFY(!compositor.cameraRect().isEmpty());
        compositor.setMode(CameraMode::Only);
        QVERIFY(compositor.cameraRect().isEmpty());
        QVERIFY(!compositor.coversDesktop());
        std::vector<uint8_t> picture = plane(1280, 720, kDesktopY);
        QVERIFY(!compositor.compose(picture.data(), 1280, 720));
        // A picture too short for its size is refused.
        compositor.setCameraPicture(std::make_shared<std::vector<uint8_t>>(16), QSize(960, 720));
        QVERIFY(compositor.cameraRect().isEmpty());
        compositor.setMode(CameraMode::Off);
        QCOMPARE(compositor.cameraSize(QSize(640, 480)), QSize());
        // Wrong class size: nothing drawn.
        compositor.setMode(CameraMode::Inset);
        compositor.setCameraPicture(std::make_shared<std::vector<uint8_t>>(plane(inset.width(), inset.height(), 81)),
                                    inset);
        std::vector<uint8_t> other = plane(640, 360, kDesktopY);
        QVERIFY(!compositor.compose(other.data(), 640, 360));
    }

    // The camera's colour in its corner (or everywhere), the desktop's elsewhere, 25 pictures a second whatever the
    // camera's rate.
    void recordsTheCamera_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("corner");
        QTest::addColumn<int>("rate");
        QTest::newRow("corner, camera at 30") << int(CameraMode::Inset) << int(CameraCorner::BottomRight) << 30;
        QTest::newRow("corner, camera at 15") << int(CameraMode::Inset) << int(CameraCorner::TopLeft) << 15;
        QTest::newRow("camera alone") << int(CameraMode::Only) << int(CameraCorner::BottomRight) << 30;
    }
    void recordsTheCamera()
    {
        QFETCH(int, mode);
        QFETCH(int, corner);
        QFETCH(int, rate);
        Backdrop backdrop;
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("camera.mp4"));
        recordCtrl ctrl;
        ctrl.setUrl(file);
        ctrl.setCameraInput(QStringLiteral("lavfi"), QStringLiteral("color=c=red:size=640x480:rate=%1").arg(rate));
        ctrl.setCameraCorner(CameraCorner(corner));
        QSignalSpy opened(&ctrl, &recordCtrl::sig_cameraOpened);
        ctrl.setCameraMode(CameraMode(mode));
        QVERIFY(ctrl.start(0));
        QTRY_VERIFY_WITH_TIMEOUT(!ctrl.cameraRect().isEmpty(), 10000);
        QTRY_COMPARE(opened.count(), 1);
        const QRect place = ctrl.cameraRect();
        QElapsedTimer recorded;
        recorded.start();
        QTRY_VERIFY_WITH_TIMEOUT(recorded.elapsed() >= 2000, 5000); // the span recorded
        ctrl.stop();
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);

        const QJsonObject video = videoStream(file);
        QCOMPARE(video.value(QStringLiteral("r_frame_rate")).toString(), QStringLiteral("25/1"));
        const QImage shot = lastPicture(file);
        QCOMPARE(shot.size(), QSize(1920, 1080));
        QVERIFY(isRed(shot.pixel(place.center())));
        QVERIFY(isRed(shot.pixel(place.topLeft() + QPoint(6, 6))));
        QVERIFY(isRed(shot.pixel(place.bottomRight() - QPoint(6, 6))));
        if (CameraMode(mode) == CameraMode::Only) {
            QCOMPARE(place, QRect(240, 0, 1440, 1080));
            QVERIFY(isBlack(shot.pixel(100, 540)));
            QVERIFY(isBlack(shot.pixel(1820, 540)));
        } else {
            QCOMPARE(place.size(), QSize(384, 288));
            QVERIFY(isBlue(shot.pixel(700, 540))); // away from the pointer
            // Just outside the frame.
            QVERIFY(isBlue(shot.pixel(place.center().x(), place.top() > 100 ? place.top() - 12 : place.bottom() + 12)));
        }
    }

    // A camera that ends (its file does, or the program writing it is killed) takes its picture away and the
    // desktop goes on.
    void cameraThatEndsLeavesTheDesktop_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("the file ends") << false;
        QTest::newRow("its input is killed") << true;
    }
    void cameraThatEndsLeavesTheDesktop()
    {
        QFETCH(bool, killed);
        Backdrop backdrop;
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));
        QTemporaryDir dir;
        const QString camera = dir.filePath(killed ? QStringLiteral("camera.pipe") : QStringLiteral("camera.mkv"));
        QProcess writer;
        if (killed) {
            QCOMPARE(::mkfifo(QFile::encodeName(camera).constData(), 0600), 0);
            writer.start(QStringLiteral("ffmpeg"),
                         {"-v", "error", "-re", "-f", "lavfi", "-i", "color=c=red:size=640x480:rate=25", "-c:v",
                          "mjpeg", "-f", "matroska", "-y", camera});
            QVERIFY(writer.waitForStarted());
        } else {
            QVERIFY(testsupport::makeMedia(camera, {"-f", "lavfi", "-i", "color=c=red:size=640x480:rate=25:d=1"}));
        }
        const QString file = dir.filePath(QStringLiteral("desktop.mp4"));
        recordCtrl ctrl;
        ctrl.setUrl(file);
        ctrl.setCameraInput(killed ? QStringLiteral("matroska") : QString(), camera);
        QSignalSpy failed(&ctrl, &recordCtrl::sig_cameraFailed);
        ctrl.setCameraMode(CameraMode::Inset);
        QVERIFY(ctrl.start(0));
        QTRY_VERIFY_WITH_TIMEOUT(!ctrl.cameraRect().isEmpty(), 10000);
        const QRect place = ctrl.cameraRect();
        if (killed)
            writer.kill();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(failed.at(0).at(0).toInt(), int(CameraThread::Lost));
        QCOMPARE(ctrl.cameraMode(), CameraMode::Off);
        QVERIFY(ctrl.cameraRect().isEmpty());
        QVERIFY(!ctrl.isIdle());
        if (!killed) {
            // Plugged in again: it goes back on, and ends again.
            ctrl.setCameraMode(CameraMode::Inset);
            QTRY_VERIFY_WITH_TIMEOUT(!ctrl.cameraRect().isEmpty(), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 10000);
            QVERIFY(ctrl.cameraRect().isEmpty());
        }
        QElapsedTimer after;
        after.start();
        QTRY_VERIFY_WITH_TIMEOUT(after.elapsed() >= 1000, 3000); // the desktop alone, recorded
        ctrl.stop();
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);
        writer.waitForFinished();
        QVERIFY(ctrl.lastFailure() == CaptureCtrl::NoFailure);
        const QImage shot = lastPicture(file);
        QVERIFY(!shot.isNull());
        QVERIFY(isBlue(shot.pixel(place.center())));
    }

    // No camera on this machine: told as such, and the desktop is recorded alone.
    void noCamera()
    {
        if (!QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System).isEmpty())
            QSKIP("this machine has a camera");
        recordCtrl ctrl;
        QSignalSpy failed(&ctrl, &recordCtrl::sig_cameraFailed);
        ctrl.setCameraMode(CameraMode::Inset);
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(failed.at(0).at(0).toInt(), int(CameraThread::NotFound));
        QCOMPARE(ctrl.cameraMode(), CameraMode::Off);
        QCOMPARE(CameraThread::failureText(CameraThread::NotFound), QStringLiteral("未找到摄像头"));
    }

    // tavi-record takes any input as its camera, and says when it ends.
    void toolTakesACamera()
    {
        Backdrop backdrop;
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));
        QTemporaryDir dir;
        const QString camera = dir.filePath(QStringLiteral("short.mkv"));
        QVERIFY(testsupport::makeMedia(camera, {"-f", "lavfi", "-i", "color=c=red:size=320x240:rate=30:d=1.5"}));
        const QString stage = testsupport::stageDir();
        QProcess record;
        record.setWorkingDirectory(stage);
        record.start(stage + QStringLiteral("/tavi-record"),
                     {dir.filePath(QStringLiteral("out.mp4")), "--seconds", "3", "--camera", ":" + camera,
                      "--camera-corner", "top-left"});
        QVERIFY(record.waitForFinished(30000));
        const QString said = QString::fromUtf8(record.readAllStandardError());
        QCOMPARE(record.exitCode(), 0);
        QVERIFY2(said.contains(CameraThread::failureText(CameraThread::Lost)), qPrintable(said));
        QVERIFY(!record.readAllStandardOutput().contains("usage"));
        QProcess wrong;
        wrong.start(stage + QStringLiteral("/tavi-record"), {"out.mp4", "--camera-corner", "middle"});
        QVERIFY(wrong.waitForFinished(10000));
        QCOMPARE(wrong.exitCode(), 2);
    }
};

QTEST_MAIN(tst_record_camera)
#include "tst_record_camera.moc"
