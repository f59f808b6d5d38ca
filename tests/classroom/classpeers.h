#pragma once

#include "publisher.h"

#include "course/courseinfo.h"

namespace classpeers {

inline CourseInfo course(int listType, const QString &teachingType, const QString &rtmp, const QString &rtmplat,
                         const QString &id = QStringLiteral("101"))
{
    CourseInfo info;
    info.listType = listType;
    info.teaching_type = teachingType;
    info.rtmp = rtmp;
    info.rtmplat = rtmplat;
    info.id = id;
    info.name = QStringLiteral("course ") + id;
    return info;
}

} // namespace classpeers
