#include "demoschool.h"
#include "nginxrtmp.h"
#include "testsupport.h"

#include "net/jsonhelpers.h"
#include "net/tavihttp.h"

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

// "codecs size" of what plays at an address, e.g. "aac h264 1280x720"; empty when nothing does.
QString shape(const QString &url, int timeoutMs = 15000)
{
    QStringList codecs;
    QString size;
    for (const QJsonValue &value : testsupport::probe(url, timeoutMs).value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        codecs << stream.value("codec_name").toString();
        if (stream.value("codec_type").toString() == QLatin1String("video"))
            size = QStringLiteral("%1x%2").arg(stream.value("width").toInt()).arg(stream.value("height").toInt());
    }
    codecs.sort();
    return (codecs << size).join(' ').trimmed();
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

    testsupport::DemoSchool school;

private slots:
    void initTestCase() { QVERIFY(school.start() && school.writeSysConfig()); }

    void everyRoleHasClassesToEnter_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("userType");
        QTest::addColumn<int>("listType");
        QTest::newRow("student") << "student" << QStringLiteral("1") << 2;
        QTest::newRow("teacher") << "teacher" << QStringLiteral("3") << 1;
        QTest::newRow("tutor teaching") << "tutor" << QStringLiteral("2") << 1;
        QTest::newRow("tutor studying") << "tutor" << QStringLiteral("2") << 2;
        QTest::newRow("legacy") << "legacy" << QStringLiteral("1") << 2;
    }
    void everyRoleHasClassesToEnter()
    {
        QFETCH(QString, user);
        QFETCH(QString, userType);
        QFETCH(int, listType);
        bool oneToOne = false, group = false, countingDown = false;
        for (const QJsonObject &course : classes(user, listType, userType)) {
            const qint64 minutes = minutesToStart(course);
            const QString type = course.value(QStringLiteral("teaching_type")).toString();
            oneToOne |= type == QLatin1String("1") && minutes <= 30;
            group |= type == QLatin1String("3") && minutes <= 30;
            countingDown |= minutes > 30;
        }
        QVERIFY(oneToOne && group && countingDown);
    }
    void demoLessonOnAWatchedClass()
    {
        // Each needs the other's address: nginx first, then the school, then nginx again with the school's.
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        const QString base = nginx.url(QString()).chopped(1);
        testsupport::DemoSchool lessons;
        QVERIFY(lessons.start(base, {QStringLiteral("--lessons")}));
        nginx.setNotifyUrl(lessons.baseUrl() + QStringLiteral("/demo/rtmp"));
        QVERIFY(nginx.restart());

        const QString classUrl = base + QStringLiteral("/course102");
        // Watching brings the lesson.
        const QString lesson = QStringLiteral("aac h264 1280x720");
        QCOMPARE(shape(classUrl, 20000), lesson);

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
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl), QStringLiteral("aac h264 320x240"), 30000);
        QVERIFY2(teacher.state() == QProcess::Running, teacher.readAll().constData());
        QTRY_VERIFY_WITH_TIMEOUT(lessonProcesses(lessons.processId()).isEmpty(), 10000);

        // The teacher leaves: the lesson is back for the watcher.
        teacher.terminate();
        QVERIFY(teacher.waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl), lesson, 30000);

        // A lesson that dies is started again.
        const QList<qint64> running = lessonProcesses(lessons.processId());
        QCOMPARE(running.size(), 1);
        ::kill(pid_t(running.first()), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(
            !lessonProcesses(lessons.processId()).isEmpty() && lessonProcesses(lessons.processId()) != running, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl), lesson, 30000);

        watcher.kill();
        watcher.waitForFinished(5000);
        // The school ends its lessons with itself.
        const QList<qint64> children = lessonProcesses(lessons.processId());
        QVERIFY(!children.isEmpty());
        lessons.stop();
        for (qint64 lessonPid : children)
            QTRY_VERIFY(::kill(pid_t(lessonPid), 0) != 0);
    }

    void noLessonWithoutTheFlag()
    {
        testsupport::NginxRtmp nginx;
        nginx.setNotifyUrl(school.baseUrl() + QStringLiteral("/demo/rtmp"));
        QVERIFY(nginx.start());
        QVERIFY(shape(nginx.url(QStringLiteral("course102")), 4000).isEmpty());
        QVERIFY(lessonProcesses(school.processId()).isEmpty());
    }
};

QTEST_MAIN(TestDemoSchool)
#include "tst_demo_school.moc"
