#pragma once

// Reading today's course reply of the web service, without widgets: the
// list shows what this gives it.

#include "course/courseinfo.h"

#include <QByteArray>
#include <QJsonObject>
#include <QVector>

struct CourseReply
{
    // "status" read as 200 (the number or the text).
    bool accepted = false;
    // Size of the reply's "list" (0 when missing or not an array).
    int listed = 0;
    // One record per element that is an object, numbered 1, 2, ... in
    // "seq", at most maxRows of them.
    QVector<CourseInfo> courses;
};

CourseReply readCourseReply(const QByteArray &body, int listType, int maxRows);

// One course element as a record of the given list type (1 teacher list,
// 2 student list; another type leaves the type-dependent members empty).
CourseInfo courseFromJson(const QJsonObject &course, int listType);
