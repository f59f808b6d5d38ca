#include "classes.h"

#include <QJsonObject>

namespace democlasses {
namespace {

struct DemoClass
{
    int id;
    QString name;
    int lesson;
    int teachingType; // 1 one-to-one, 2 offline class, 3 live group class
    int startMinutes; // relative to now
    int lengthMinutes;
    QString teacher; // a user name; someone without an account has no client
    QStringList students;
};

const QList<DemoClass> &classes()
{
    static const QList<DemoClass> list = {
        {101, QStringLiteral("Python 编程入门"), 3, 1, -5, 60, QStringLiteral("teacher"), {QStringLiteral("student")}},
        {102,
         QStringLiteral("高等数学：微积分初步"),
         5,
         3,
         -20,
         90,
         QStringLiteral("teacher"),
         {QStringLiteral("student"), QStringLiteral("tutor"), QStringLiteral("legacy")}},
        {103,
         QStringLiteral("英语口语提高班"),
         2,
         2,
         120,
         45,
         QStringLiteral("teacher"),
         {QStringLiteral("student"), QStringLiteral("tutor"), QStringLiteral("legacy")}},
        {201, QStringLiteral("Python 一对一辅导"), 1, 1, 5, 45, QStringLiteral("tutor"), {QStringLiteral("legacy")}},
        {202, QStringLiteral("数据结构习题课"), 4, 3, -10, 60, QStringLiteral("tutor"), {QStringLiteral("legacy")}},
        {203, QStringLiteral("算法竞赛训练"), 7, 3, 180, 90, QStringLiteral("tutor"), {}},
        {301, QStringLiteral("教学法一对一"), 2, 1, -15, 60, QStringLiteral("陈老师"), {QStringLiteral("tutor")}},
    };
    return list;
}

QString streamName(int id)
{
    return QStringLiteral("course%1").arg(id);
}

} // namespace

QJsonArray todays(const QString &userName, int listType, const QDateTime &now, const QString &origin,
                  const QString &studentBase, bool low)
{
    QJsonArray list;
    const QDateTime base = now.addSecs(-now.time().second());
    for (const DemoClass &course : classes()) {
        const bool teaches = course.teacher == userName;
        const bool attends = course.students.contains(userName);
        if ((listType == 1 && !teaches) || (listType == 2 && !attends))
            continue;
        const QDateTime start = base.addSecs(course.startMinutes * 60);
        const QDateTime end = start.addSecs(course.lengthMinutes * 60);
        const QString stream = origin + QLatin1Char('/') + streamName(course.id);
        const QString talk = stream + QStringLiteral("_talk");
        const QString watched = studentBase + QLatin1Char('/') + streamName(course.id);
        QJsonObject item{
            {"courseware_id", QString::number(course.id * 10)},
            {"courseware_detail_id", QString::number(course.id * 100 + course.lesson)},
            {"order_id", QString::number(900000 + course.id)},
            {"teaching_type", QString::number(course.teachingType)},
            {"cs_type", "1"},
            {"appointment_time",
             start.toString(QStringLiteral("yyyy-MM-dd hh:mm")) + QLatin1Char('-') +
                 end.toString(QStringLiteral("hh:mm"))},
            {"status", "1"},
            {"stuStatus", "1"},
            {"apply_num", QString::number(course.students.size() + 2)},
            {"agree_apply_num", QString::number(course.students.size())},
        };
        if (listType == 1) {
            // The teacher publishes the class and plays the student's voice.
            item.insert("bid", QString::number(course.id));
            item.insert("cs_name", course.name);
            item.insert("cs_joint_num", QString::number(course.lesson));
            item.insert("rtmp", stream);
            item.insert("rtmplat", talk);
        } else {
            item.insert("id", QString::number(course.id));
            item.insert("name", course.name);
            item.insert("joint_num", QString::number(course.lesson));
            item.insert("rtmp", talk);
            item.insert("rtmplat", watched);
            if (low)
                item.insert("rtmplat_low", watched + QStringLiteral("_low"));
        }
        list.append(item);
    }
    return list;
}

std::map<QString, QString> watchedStreams()
{
    std::map<QString, QString> streams;
    for (const DemoClass &course : classes()) {
        if (!course.students.isEmpty())
            streams[streamName(course.id)] = course.name;
    }
    return streams;
}

} // namespace democlasses
