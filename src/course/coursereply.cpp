#include "course/coursereply.h"

#include "base/logging.h"
#include "net/jsonhelpers.h"

#include <QJsonArray>

CourseReply readCourseReply(const QByteArray &body, int listType, int maxRows)
{
    CourseReply reply;
    const QJsonObject root = parseJsonObject(body);
    reply.accepted = jsonStringValue(root, QStringLiteral("status")).toInt() == 200;
    if (!reply.accepted)
        return reply;
    const QJsonArray list = jsonArrayValue(root, QStringLiteral("list"));
    reply.listed = list.size();
    for (int i = 0; i < list.size(); ++i) {
        // Something that is not a course object makes no row.
        if (!list.at(i).isObject()) {
            TAVI_LOG_WARN("course list: element " << i << " is not an object");
            continue;
        }
        if (reply.courses.size() == maxRows) {
            TAVI_LOG_WARN("course list: only the first " << maxRows << " of " << list.size() << " shown");
            break;
        }
        CourseInfo info = courseFromJson(list.at(i).toObject(), listType);
        info.seq = QString::number(reply.courses.size() + 1);
        reply.courses.append(info);
    }
    return reply;
}

CourseInfo courseFromJson(const QJsonObject &course, int listType)
{
    const auto text = [&course](const char *key) { return jsonStringValue(course, QLatin1String(key)); };
    CourseInfo info;
    info.courseware_id = text("courseware_id");
    info.courseware_detail_id = text("courseware_detail_id");
    info.order_id = text("order_id");
    info.teaching_type = text("teaching_type");
    info.cs_type = text("cs_type");
    if (listType == 1)
        info.joint_num = text("cs_joint_num");
    else if (listType == 2)
        info.joint_num = text("joint_num");
    info.appointment_time = text("appointment_time");
    info.status = text("status");
    info.stuStatus = text("stuStatus");
    if (listType == 1)
        info.name = text("cs_name");
    else if (listType == 2)
        info.name = text("name");
    info.apply_num = text("apply_num");
    info.agree_apply_num = text("agree_apply_num");
    info.listType = listType;
    info.role = CourseInfo::roleOfList(listType);
    info.rtmp = text("rtmp");
    info.rtmplat = text("rtmplat");
    if (listType == 2)
        info.rtmplat_low = text("rtmplat_low");
    if (listType == 1)
        info.id = text("bid");
    else if (listType == 2)
        info.id = text("id");
    return info;
}
