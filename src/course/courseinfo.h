#pragma once

#include <QMetaType>
#include <QString>

// One course of today's list, passed by value through the class flow.
struct CourseInfo
{
    QString seq; // 1-based position in its reply, as text
    QString courseware_id;
    QString courseware_detail_id;
    QString order_id;
    QString teaching_type;
    QString cs_type;
    QString joint_num;
    QString appointment_time;
    QString status;
    QString stuStatus;
    QString name;
    QString apply_num;
    QString agree_apply_num;
    int listType = 0; // 1 teacher list, 2 student list
    QString rtmp; // where this user publishes
    QString rtmplat; // what this user plays
    QString id; // "bid" of a teacher list, "id" of a student list
};

Q_DECLARE_METATYPE(CourseInfo)
