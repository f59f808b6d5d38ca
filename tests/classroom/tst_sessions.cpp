// The classroom's sessions as state machines, driven by hand: what the
// publisher and the players would answer, without a server or a microphone.
#include "classroom/cameracontrol.h"
#include "classroom/publication.h"
#include "classroom/studentsession.h"
#include "classroom/teachersession.h"
#include "record/recordctrl.h"
#include "ui/label.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
constexpr int kRetryMs = 20;
}

class tst_Sessions : public QObject
{
    Q_OBJECT
private slots:
    // A publication asks for one open at a time, tries again while the server is away, tells a reconnection from a
    // first connection, and stops trying for a cause another try would not mend (a refused screen share).
    void publicationKeepsTrying()
    {
        Publication publication(kRetryMs);
        QSignalSpy opens(&publication, &Publication::open);
        QSignalSpy gaveUp(&publication, &Publication::gaveUp);
        QSignalSpy closes(&publication, &Publication::close);
        // Answers to opens that were not this one's (the recorder window's) change nothing.
        publication.opened(true);
        QCOMPARE(publication.state(), Publication::Off);
        QCOMPARE(closes.count(), 0);
        publication.start();
        QCOMPARE(publication.state(), Publication::Connecting);
        QCOMPARE(opens.count(), 1);
        QVERIFY(publication.isOpening());
        publication.opened(false, Publication::Retry, QStringLiteral("server"));
        QCOMPARE(publication.state(), Publication::Connecting);
        QCOMPARE(publication.reason(), QStringLiteral("server"));
        QTRY_COMPARE(opens.count(), 2);
        // Busy: asked again later, as it was.
        publication.retryLater();
        QCOMPARE(publication.state(), Publication::Connecting);
        QTRY_COMPARE(opens.count(), 3);
        publication.opened(true);
        QCOMPARE(publication.state(), Publication::Live);

        publication.dropped(Publication::Retry, QStringLiteral("gone"));
        QCOMPARE(publication.state(), Publication::Reconnecting);
        QTRY_COMPARE(opens.count(), 4);
        publication.opened(false, Publication::Retry, QStringLiteral("gone"));
        QCOMPARE(publication.state(), Publication::Reconnecting);
        QTRY_COMPARE(opens.count(), 5);
        publication.opened(true);
        publication.dropped(Publication::GiveUp, QStringLiteral("refused"));
        QCOMPARE(publication.state(), Publication::GivenUp);
        QVERIFY(!publication.isOn());
        QCOMPARE(gaveUp.count(), 1);
        QCOMPARE(gaveUp.first().at(0).toString(), QStringLiteral("refused"));

        // A start that fails for good while opening gives up too.
        publication.start();
        publication.opened(false, Publication::GiveUp, QStringLiteral("microphone"));
        QCOMPARE(publication.state(), Publication::GivenUp);
        QCOMPARE(gaveUp.count(), 2);
    }

    // Stopped while the publisher opens: a publisher that comes up is closed, one that fails is let be.
    void stoppedWhileOpening()
    {
        Publication publication(kRetryMs);
        QSignalSpy opens(&publication, &Publication::open);
        QSignalSpy closes(&publication, &Publication::close);
        publication.start();
        publication.stop();
        QCOMPARE(publication.state(), Publication::Off);
        publication.opened(true);
        QCOMPARE(closes.count(), 1);
        QCOMPARE(publication.state(), Publication::Off);
        publication.start();
        publication.stop();
        publication.opened(false, Publication::Retry, QStringLiteral("server"));
        publication.dropped(Publication::Retry, QStringLiteral("server"));
        QCOMPARE(closes.count(), 1);
        QCOMPARE(opens.count(), 2);
        QCOMPARE(publication.state(), Publication::Off);
    }

    // The teacher's time on air counts from the first live moment; the student's voice player is tried again while
    // the class is on, and not after.
    void teacherSession()
    {
        TeacherSession session(kRetryMs);
        QSignalSpy replays(&session, &TeacherSession::replayVoice);
        session.start(true);
        QCOMPARE(session.onAirMs(), 0);
        session.publication()->opened(true);
        QTRY_VERIFY(session.onAirMs() > 0);
        session.voiceFlowing(true);
        QVERIFY(session.studentVoice());
        session.voicePlayerEnded();
        QVERIFY(!session.studentVoice());
        QTRY_COMPARE(replays.count(), 1);
        session.voicePlayerEnded();
        session.stop();
        QCOMPARE(session.publication()->state(), Publication::Off);
        QCOMPARE(session.onAirMs(), 0);
        // A group class hears nobody.
        session.start(false);
        session.voiceFlowing(true);
        QVERIFY(!session.studentVoice());
    }

    // A student waits until the stream comes, reconnects when it goes, and the dialogue ends with the class.
    void studentSession()
    {
        StudentSession session(kRetryMs);
        QSignalSpy replays(&session, &StudentSession::replay);
        session.start();
        QCOMPARE(session.state(), StudentSession::Waiting);
        session.playerEnded();
        QCOMPARE(session.state(), StudentSession::Waiting);
        QTRY_COMPARE(replays.count(), 1);
        session.inputFlowing(true);
        QCOMPARE(session.state(), StudentSession::Playing);
        session.inputFlowing(false);
        QCOMPARE(session.state(), StudentSession::Reconnecting);
        session.playerEnded();
        QCOMPARE(session.state(), StudentSession::Reconnecting);
        QTRY_COMPARE(replays.count(), 2);
        session.dialogue()->start();
        session.dialogue()->opened(true);
        session.stop();
        QCOMPARE(session.state(), StudentSession::Off);
        QCOMPARE(session.dialogue()->state(), Publication::Off);
        session.inputFlowing(true);
        QCOMPARE(session.state(), StudentSession::Off);
    }

    // A stream that played and stays gone ends the class (and with it the student's voice).
    void classGoesAway()
    {
        StudentSession session(kRetryMs, 2 * kRetryMs);
        QSignalSpy gone(&session, &StudentSession::classGone);
        session.start();
        session.inputFlowing(true);
        session.inputFlowing(false);
        QTRY_COMPARE(gone.count(), 1);
        session.inputFlowing(true);
        QCOMPARE(gone.count(), 1);
    }

    // The camera's control: on in a corner, then alone, then back; a drop takes the nearest corner and remembers
    // it; taken away (the class ended), the camera goes off and its buttons hide.
    void cameraControl()
    {
        Label onOff(QString(), Qt::white, true), mode(QString(), Qt::white, true);
        recordCtrl recorder;
        recorder.setCameraInput(QStringLiteral("lavfi"), QStringLiteral("color=c=red:size=640x480:rate=30"));
        CameraControl camera(&onOff, &mode, &recorder);
        camera.setAvailable(true);
        QCOMPARE(onOff.text(), QStringLiteral("[摄像头]"));
        QTest::mouseClick(&onOff, Qt::LeftButton);
        QCOMPARE(camera.mode(), CameraMode::Inset);
        QCOMPARE(onOff.text(), QStringLiteral("[关闭摄像头]"));
        QCOMPARE(mode.text(), QStringLiteral("[仅摄像头]"));
        QTest::mouseClick(&mode, Qt::LeftButton);
        QCOMPARE(camera.mode(), CameraMode::Only);
        QCOMPARE(mode.text(), QStringLiteral("[画中画]"));
        QTest::mouseClick(&mode, Qt::LeftButton);
        QCOMPARE(camera.mode(), CameraMode::Inset);
        camera.dropAt(0.2, 0.1);
        QCOMPARE(recorder.cameraCorner(), CameraCorner::TopLeft);
        QCOMPARE(PictureCompositor::rememberedCorner(), CameraCorner::TopLeft);
        camera.dropAt(0.9, 0.7);
        QCOMPARE(PictureCompositor::rememberedCorner(), CameraCorner::BottomRight);
        camera.setAvailable(false);
        QCOMPARE(camera.mode(), CameraMode::Off);
        QVERIFY(onOff.isHidden() && mode.isHidden());
    }
};

QTEST_MAIN(tst_Sessions)
#include "tst_sessions.moc"
