// Fuzz target: the reader of today's course reply. The first byte picks the
// list type (0, 1, 2 or another), the rest is the reply's body. Whatever
// the bytes, reading must not crash or hang, and its records must keep the
// rules the course list relies on: a reply is taken exactly when its status
// is the number 200 or a text reading as 200 (seen through Qt's own JSON
// document), and then every element of its list that is an object makes one
// record, up to the bound, and nothing else does.

#include "course/coursereply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

// The reader warns about every odd element; millions of inputs need no log.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int listType = int(data[0] % 4);
    const QByteArray body(reinterpret_cast<const char *>(data + 1), int(size - 1));
    constexpr int kMaxRows = 8;
    const CourseReply reply = readCourseReply(body, listType, kMaxRows);
    const QJsonObject root = QJsonDocument::fromJson(body).object();
    const QJsonValue status = root.value(QStringLiteral("status"));
    const bool is200 =
        status.isDouble() ? status.toDouble() == 200 : status.isString() && status.toString().toInt() == 200;
    if (reply.accepted != is200)
        std::abort();
    if (is200) {
        const QJsonArray list = root.value(QStringLiteral("list")).toArray();
        int objects = 0;
        for (const QJsonValue &element : list)
            objects += element.isObject();
        if (reply.listed != list.size() || reply.courses.size() != qMin(objects, kMaxRows))
            std::abort();
    }
    if (!reply.accepted && (!reply.courses.isEmpty() || reply.listed != 0))
        std::abort();
    if (reply.courses.size() > kMaxRows || reply.courses.size() > reply.listed)
        std::abort();
    for (int i = 0; i < reply.courses.size(); ++i) {
        const CourseInfo &info = reply.courses.at(i);
        if (info.seq != QString::number(i + 1) || info.listType != listType)
            std::abort();
        // Only the two list types read the members that depend on them.
        if (listType != 1 && listType != 2 && !(info.name.isEmpty() && info.id.isEmpty() && info.joint_num.isEmpty()))
            std::abort();
    }
    return 0;
}
