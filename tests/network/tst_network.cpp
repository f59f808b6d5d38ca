// A class over a pupil's and a teacher's link that get slow or die: the
// players and the publisher come back by themselves.
#include "demoschool.h"
#include "netlab.h"
#include "sound.h"
#include "testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace testsupport;

namespace {
double now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

// The first course of a user's list at the demo school, signed in with curl.
QJsonObject firstCourse(const DemoSchool &school, const QString &user, const QString &path, const QString &type)
{
    QTemporaryDir dir;
    const QString jar = dir.filePath(QStringLiteral("cookies"));
    if (!run("curl",
             {"-sf", "-c", jar, school.baseUrl() + "/ucenter/default/login?username=" + user + "&password=123456"},
             10000))
        return {};
    QByteArray out;
    if (!run("curl", {"-sf", "-b", jar, school.baseUrl() + path + "?type=" + type}, 20000, &out))
        return {};
    return QJsonDocument::fromJson(out).object().value("list").toArray().at(0).toObject();
}

// Pictures tavi-play shows of an address within 20 s.
int picturesOf(const QString &address, int frames)
{
    QByteArray out;
    run(stageDir() + "/tavi-play",
        {address, "--frames", QString::number(frames), "--seconds", "20", "--no-sync", "--stats"}, 30000, &out);
    const QRegularExpression pictures(QStringLiteral("pictures: (\\d+)"));
    return pictures.match(QString::fromUtf8(out)).captured(1).toInt();
}

qint64 rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &row : status.readAll().split('\n'))
            if (row.startsWith("VmRSS:"))
                return row.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}
} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT
private slots:
    void pupilComesBack_data();
    void pupilComesBack();
    void publisherMemoryBoundedWhileCapped();
    void lowRenditionUnderCap();
    void edgesCarryTheClass();
    void unusableLowRendition_data();
    void unusableLowRendition();
};

void TestNetwork::pupilComesBack_data()
{
    QTest::addColumn<QString>("impairment");
    QTest::addColumn<double>("seconds");
    QTest::newRow("link cut, no reset") << "cut pupil" << 20.0;
    QTest::newRow("link capped below the stream") << "cap pupil 600kbit" << 15.0;
}

// The player plays again by itself after a cut, and is back near the live
// edge after a cap is lifted.
void TestNetwork::pupilComesBack()
{
    QFETCH(QString, impairment);
    QFETCH(double, seconds);
    NetLab lab;
    const QString why = lab.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    lab.launch(false, QStringLiteral("ffmpeg"), NetLab::classArgs(lab.teacherUrl("class")));
    PupilPlayer pupil(lab, lab.pupilUrl("class"));
    QTRY_VERIFY_WITH_TIMEOUT(pupil.pictures.size() > 100, 30000);
    const double edge = pupil.edge();
    QVERIFY(lab.command(impairment));
    const double from = now();
    // The impairment lasts its time while the player keeps playing what it
    // can; below the stream's rate, it drops rather than lags: 2 s is the
    // aim, the rest is room for a loaded machine (a reopen only after 2 s
    // behind for 2 s could not come below 2.9 s).
    double most = 0;
    const auto lasts = [&] {
        most = std::max(most, pupil.behind(edge));
        return now() - from > seconds;
    };
    QVERIFY(QTest::qWaitFor(lasts, int(seconds * 1000) + 5000));
    QVERIFY2(impairment.startsWith("cut") || most <= 2.5, qPrintable(QStringLiteral("%1 s behind").arg(most)));
    QVERIFY(lab.command(impairment.startsWith("cut") ? "mend pupil" : "uncap pupil"));
    const int shown = pupil.pictures.size();
    QTRY_VERIFY_WITH_TIMEOUT(pupil.pictures.size() > shown + 50 && pupil.behind(edge) <= 0.4, 20000);
    // No low rendition offered: nothing to switch to.
    QVERIFY(pupil.switches.isEmpty());
}

// A class the link cannot carry goes to the server's low rendition, and back
// once the cap is lifted; the sound runs on across each switch.
void TestNetwork::lowRenditionUnderCap()
{
    NetLab lab;
    lab.server().setLowRendition(true);
    const QString why = lab.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    lab.launch(false, QStringLiteral("ffmpeg"), NetLab::classArgs(lab.teacherUrl("class"), 1600));
    const QString sinkName = QStringLiteral("tstnet%1").arg(QCoreApplication::applicationPid());
    NullSink sink(sinkName);
    Ear ear(sinkName);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SINK"), sinkName);
    PupilPlayer pupil(lab, lab.pupilUrl("class"), env, lab.pupilUrl("class_low"));
    QTRY_VERIFY_WITH_TIMEOUT(pupil.pictures.size() > 100, 30000);
    QVERIFY(lab.command("cap pupil 1mbit"));
    QTRY_VERIFY_WITH_TIMEOUT(!pupil.switches.isEmpty(), 30000);
    const double down = pupil.switches.last().first;
    QVERIFY(pupil.switches.last().second);
    // From the low rendition's first picture on.
    QTRY_VERIFY_WITH_TIMEOUT(now() > down + 4, 10000);
    QVERIFY2(
        ear.longestGapMs(down, down + 4) <= 100,
        qPrintable(QStringLiteral("%1 ms of silence after the switch down").arg(ear.longestGapMs(down, down + 4))));
    // Under the cap the probes of the full rendition fail and the low one
    // plays on at its pace.
    const int shown = pupil.pictures.size();
    QVERIFY(QTest::qWaitFor([&] { return now() > down + 20; }, 25000));
    QCOMPARE(pupil.switches.size(), 1);
    QVERIFY2(pupil.pictures.size() - shown > 20 * (now() - down - 4),
             qPrintable(QStringLiteral("%1 pictures on the low rendition").arg(pupil.pictures.size() - shown)));
    QVERIFY(lab.command("uncap pupil"));
    QTRY_VERIFY_WITH_TIMEOUT(pupil.switches.size() >= 2, 40000);
    const double up = pupil.switches.last().first;
    QVERIFY(!pupil.switches.last().second);
    QTRY_VERIFY_WITH_TIMEOUT(now() > up + 3, 10000);
    QVERIFY2(ear.longestGapMs(up - 3, up + 3) <= 100,
             qPrintable(QStringLiteral("%1 ms of silence around the switch up").arg(ear.longestGapMs(up - 3, up + 3))));
}

// A school with edges: teachers publish to the origin, students are sent to
// the least loaded edge, and see the class there, in both renditions.
void TestNetwork::edgesCarryTheClass()
{
    const quint16 origin = freePort();
    DemoSchool school;
    QVERIFY(school.start(QStringLiteral("rtmp://127.0.0.1:%1/live").arg(origin), {"--edges", "2"}));
    QVERIFY(waitForPort(QStringLiteral("127.0.0.1"), origin, 10000));
    const QJsonObject taught = firstCourse(school, "teacher", "/teacher/courseall/todaycourse", "teacher");
    const QJsonObject watched = firstCourse(school, "student", "/student/courseall/todaycourse", "student");
    const QUrl publishTo(taught.value("rtmp").toString());
    const QUrl playFrom(watched.value("rtmplat").toString());
    QCOMPARE(publishTo.port(), int(origin));
    QVERIFY2(playFrom.port() > 0 && playFrom.port() != int(origin), qPrintable(playFrom.toString()));
    QCOMPARE(playFrom.path(), publishTo.path());
    QCOMPARE(watched.value("rtmplat_low").toString(), playFrom.toString() + "_low");
    // The one-to-one voices stay on the origin.
    QCOMPARE(QUrl(watched.value("rtmp").toString()).port(), int(origin));
    // Equal loads take turns.
    const QJsonObject next = firstCourse(school, "student", "/student/courseall/todaycourse", "student");
    QVERIFY(QUrl(next.value("rtmplat").toString()).port() != playFrom.port());

    PeerProcess teacher;
    teacher.start("ffmpeg", NetLab::classArgs(publishTo.toString()));
    QVERIFY(teacher.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(picturesOf(playFrom.toString(), 25) == 25, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(picturesOf(watched.value("rtmplat_low").toString(), 25) == 25, 60000);
    teacher.stop();
}

void TestNetwork::unusableLowRendition_data()
{
    QTest::addColumn<bool>("published");
    QTest::newRow("not published") << false;
    QTest::newRow("published without pictures") << true;
}

// A low rendition that is not there, or gives no picture, leaves the class on
// the full one: it plays on under the cap and after it, and nothing is said.
void TestNetwork::unusableLowRendition()
{
    QFETCH(bool, published);
    NetLab lab;
    const QString why = lab.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    lab.launch(false, QStringLiteral("ffmpeg"), NetLab::classArgs(lab.teacherUrl("class"), 1600));
    if (published)
        lab.launch(false, QStringLiteral("ffmpeg"),
                   {"-hide_banner", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=44100", "-c:a", "aac", "-f", "flv", lab.teacherUrl("class_low")});
    PupilPlayer pupil(lab, lab.pupilUrl("class"), QProcessEnvironment::systemEnvironment(), lab.pupilUrl("class_low"));
    QTRY_VERIFY_WITH_TIMEOUT(pupil.pictures.size() > 100, 30000);
    const double edge = pupil.edge();
    QVERIFY(lab.command("cap pupil 1mbit"));
    const double from = now();
    QVERIFY(QTest::qWaitFor([&] { return now() - from > 20; }, 25000));
    QVERIFY(lab.command("uncap pupil"));
    const int shown = pupil.pictures.size();
    QTRY_VERIFY_WITH_TIMEOUT(pupil.pictures.size() > shown + 50 && pupil.behind(edge) <= 0.4, 20000);
    QVERIFY(pupil.switches.isEmpty());
}

// With its uplink far below the stream, the publisher drops what cannot be
// sent instead of keeping it.
void TestNetwork::publisherMemoryBoundedWhileCapped()
{
    NetLab lab;
    const QString why = lab.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QProcess &publisher =
        lab.launch(false, stageDir() + "/tavi-record", {lab.teacherUrl("class"), "--reconnect"});
    PupilPlayer pupil(lab, lab.pupilUrl("class"));
    QTRY_VERIFY_WITH_TIMEOUT(pupil.pictures.size() > 50, 30000);
    const qint64 before = rssKb(publisher.processId());
    QVERIFY(lab.command("cap teacher 48kbit"));
    const double from = now();
    // Bounded by the raw pictures' queue of a class stream: half a second
    // (14 pictures), with the one being encoded and the one being captured,
    // of the test display (1920x1080), at most 48 MB over what it held
    // before; the rest of the margin is for the sound's queues and the
    // sender's. The encoder made again at each republish gives back what the
    // last one held; before that was so, each republish could grow by tens
    // of MB.
    qint64 most = before;
    QVERIFY(QTest::qWaitFor(
        [&] {
            most = std::max(most, rssKb(publisher.processId()));
            return now() - from > 20;
        },
        30000));
    QVERIFY(lab.command("uncap teacher"));
#if !defined(__SANITIZE_ADDRESS__)
    // (The sanitizer keeps up to 256 MB of freed blocks in quarantine, and
    // its allocator has no threshold to hold: there the figure says nothing.)
    const qint64 bound = 16LL * 1920 * 1080 * 3 / 2 / 1024 + 16 * 1024;
    QVERIFY2(most - before < bound, qPrintable(QStringLiteral("grew by %1 kB").arg(most - before)));
#endif
    const int shown = pupil.pictures.size();
    QTRY_VERIFY_WITH_TIMEOUT(pupil.pictures.size() > shown + 50, 20000);
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
