#include "demoschool.h"
#include "nginxrtmp.h"
#include "testsupport.h"

#include "net/jsonhelpers.h"
#include "net/tavihttp.h"

#include <QApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

QJsonObject fetch(const QString &path)
{
    QJsonObject reply;
    auto *http = new TaviHttp(path, {}, 80, true);
    http->setCallback([&reply](bool, QByteArray body) { reply = parseJsonObject(body); });
    http->get();
    http->deleteLater();
    return reply;
}

// Today's list of a user by the list type's request, keyed by class id.
QMap<QString, QJsonObject> classes(const QString &user, int listType, const QString &userType)
{
    fetch(QStringLiteral("/ucenter/default/login?username=%1&password=123456").arg(user));
    QString path = QStringLiteral("/student/courseall/todaycourse?type=student");
    if (listType == 1)
        path = QStringLiteral("/teacher/courseall/todaycourse?type=teacher");
    else if (userType == QLatin1String("2"))
        path = QStringLiteral("/teacher/courseall/todaycourse?type=student");
    const QJsonObject reply = fetch(path);
    QMap<QString, QJsonObject> byId;
    for (const QJsonValue &value : jsonArrayValue(reply, QStringLiteral("list"))) {
        const QJsonObject course = value.toObject();
        byId.insert(jsonStringValue(course, listType == 1 ? QStringLiteral("bid") : QStringLiteral("id")), course);
    }
    return byId;
}

qint64 minutesToStart(const QJsonObject &course)
{
    const QString time = course.value(QStringLiteral("appointment_time")).toString().left(16);
    const QDateTime start = QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd hh:mm"));
    return QDateTime::currentDateTime().secsTo(start) / 60;
}

struct StreamShape
{
    QStringList codecs;
    QString size;
    QString rate;
    QString format;
};

StreamShape shape(const QString &url, int timeoutMs = 15000)
{
    const QJsonObject probe = testsupport::probe(url, timeoutMs);
    StreamShape out;
    out.format = probe.value(QStringLiteral("format")).toObject().value(QStringLiteral("format_name")).toString();
    for (const QJsonValue &value : probe.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject stream = value.toObject();
        out.codecs << stream.value(QStringLiteral("codec_name")).toString();
        if (stream.value(QStringLiteral("codec_type")).toString() == QLatin1String("video")) {
            out.size = QStringLiteral("%1x%2").arg(stream.value(QStringLiteral("width")).toInt())
                           .arg(stream.value(QStringLiteral("height")).toInt());
            out.rate = stream.value(QStringLiteral("r_frame_rate")).toString();
        }
    }
    out.codecs.sort();
    return out;
}

// Process ids of the school's ffmpeg children.
QList<qint64> lessonProcesses(qint64 school)
{
    QByteArray out;
    testsupport::run(QStringLiteral("pgrep"), {QStringLiteral("-P"), QString::number(school), QStringLiteral("ffmpeg")},
                     5000, &out);
    QList<qint64> pids;
    for (const QByteArray &line : out.split('\n'))
        if (!line.trimmed().isEmpty())
            pids << line.trimmed().toLongLong();
    return pids;
}

} // namespace

class TestDemoSchool : public QObject
{
    Q_OBJECT

private slots:
    void everyRoleHasClassesToEnter_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("userType");
        QTest::addColumn<int>("listType");
        QTest::newRow("student") << "student" << "1" << 2;
        QTest::newRow("teacher") << "teacher" << "3" << 1;
        QTest::newRow("tutor teaching") << "tutor" << "2" << 1;
        QTest::newRow("tutor studying") << "tutor" << "2" << 2;
        QTest::newRow("legacy") << "legacy" << "1" << 2;
    }

    void everyRoleHasClassesToEnter()
    {
        QFETCH(QString, user);
        QFETCH(QString, userType);
        QFETCH(int, listType);
        testsupport::DemoSchool school;
        QVERIFY(school.start(QStringLiteral("rtmp://127.0.0.1:1935/live")));
        QVERIFY(school.writeSysConfig());
        bool oneToOne = false, group = false, countingDown = false;
        for (const QJsonObject &course : classes(user, listType, userType)) {
            const qint64 minutes = minutesToStart(course);
            const QString type = course.value(QStringLiteral("teaching_type")).toString();
            oneToOne |= type == QLatin1String("1") && minutes <= 30;
            group |= type == QLatin1String("3") && minutes <= 30;
            countingDown |= minutes > 30;
        }
        QVERIFY(oneToOne);
        QVERIFY(group);
        QVERIFY(countingDown);
    }

    void teacherAndStudentShareTheirStreams()
    {
        testsupport::DemoSchool school;
        QVERIFY(school.start(QStringLiteral("rtmp://127.0.0.1:1935/live")));
        QVERIFY(school.writeSysConfig());
        const auto taught = classes(QStringLiteral("teacher"), 1, QStringLiteral("3"));
        const auto attended = classes(QStringLiteral("student"), 2, QStringLiteral("1"));
        int shared = 0;
        for (auto it = attended.begin(); it != attended.end(); ++it) {
            if (!taught.contains(it.key()))
                continue;
            ++shared;
            const QJsonObject &t = taught[it.key()];
            QCOMPARE(t.value("rtmp").toString(), it->value("rtmplat").toString());
            QCOMPARE(t.value("rtmplat").toString(), it->value("rtmp").toString());
            QCOMPARE(t.value("cs_name").toString(), it->value("name").toString());
        }
        QVERIFY(shared >= 2);
    }

    void demoLessonOnAWatchedClass()
    {
        // Each needs the other's address: nginx first, then the school,
        // then nginx again with the school's.
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        const QString base = nginx.url(QString()).chopped(1);
        testsupport::DemoSchool school;
        QVERIFY(school.start(base, {QStringLiteral("--lessons")}));
        nginx.setNotifyUrl(school.baseUrl() + QStringLiteral("/demo/rtmp"));
        QVERIFY(nginx.restart());

        const QString classUrl = base + QStringLiteral("/course102");
        // Watching brings the lesson.
        StreamShape lesson = shape(classUrl, 20000);
        QCOMPARE(lesson.codecs, QStringList({"aac", "h264"}));
        QCOMPARE(lesson.size, QStringLiteral("1280x720"));
        QCOMPARE(lesson.rate, QStringLiteral("25/1"));
        QCOMPARE(lesson.format, QStringLiteral("flv"));

        // A teacher takes the class over while someone watches.
        QProcess watcher;
        watcher.start(QStringLiteral("ffmpeg"), {"-nostdin", "-loglevel", "error", "-i", classUrl, "-f", "null", "-"});
        QVERIFY(watcher.waitForStarted(5000));
        QProcess teacher;
        teacher.setProcessChannelMode(QProcess::MergedChannels);
        teacher.start(QStringLiteral("ffmpeg"),
                      QStringLiteral("-nostdin -loglevel error -re -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi "
                                     "-i sine -c:v libx264 -preset ultrafast -g 12 -pix_fmt yuv420p -c:a aac -f flv")
                              .split(' ')
                          << classUrl);
        QVERIFY(teacher.waitForStarted(5000));
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl).size, QStringLiteral("320x240"), 30000);
        QVERIFY2(teacher.state() == QProcess::Running, teacher.readAll().constData());
        QTRY_VERIFY_WITH_TIMEOUT(lessonProcesses(school.processId()).isEmpty(), 10000);

        // The teacher leaves: the lesson is back for the watcher.
        teacher.terminate();
        QVERIFY(teacher.waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl).size, QStringLiteral("1280x720"), 30000);

        // A lesson that dies is started again.
        const QList<qint64> running = lessonProcesses(school.processId());
        QCOMPARE(running.size(), 1);
        ::kill(pid_t(running.first()), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(!lessonProcesses(school.processId()).isEmpty()
                                     && lessonProcesses(school.processId()) != running,
                                 15000);
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl).size, QStringLiteral("1280x720"), 30000);

        watcher.kill();
        watcher.waitForFinished(5000);
        // The school ends its lessons with itself.
        const QList<qint64> lessons = lessonProcesses(school.processId());
        QVERIFY(!lessons.isEmpty());
        school.stop();
        for (qint64 lessonPid : lessons)
            QTRY_VERIFY(::kill(pid_t(lessonPid), 0) != 0);
    }

    void noLessonWithoutTheFlag()
    {
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        testsupport::DemoSchool school;
        QVERIFY(school.start(nginx.url(QString()).chopped(1)));
        nginx.setNotifyUrl(school.baseUrl() + QStringLiteral("/demo/rtmp"));
        QVERIFY(nginx.restart());
        QVERIFY(shape(nginx.url(QStringLiteral("course102")), 4000).codecs.isEmpty());
        QVERIFY(lessonProcesses(school.processId()).isEmpty());
    }
};

QTEST_MAIN(TestDemoSchool)
#include "tst_demo_school.moc"
