// A class over a pupil's and a teacher's link that get slow or die: the
// players and the publisher come back by themselves.
#include "netlab.h"
#include "testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QTest>

using namespace testsupport;

namespace {
double now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
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
