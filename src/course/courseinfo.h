#pragma once

#include <QMetaType>
#include <QString>

// Who the user is in a class: the list a course came from says it.
enum class Role {
    None,
    Teacher, // list type 1
    Student // list type 2
};

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
    Role role = Role::None; // read from listType with the record
    QString rtmp; // where this user publishes
    QString rtmplat; // what this user plays
    QString rtmplat_low; // a student's: a low-rate rendition of rtmplat, when the school offers one
    QString id; // "bid" of a teacher list, "id" of a student list

    static Role roleOfList(int listType)
    {
        return listType == 1 ? Role::Teacher : listType == 2 ? Role::Student : Role::None;
    }
    bool isOneToOne() const { return teaching_type.toInt() == 1; }
};

Q_DECLARE_METATYPE(CourseInfo)
