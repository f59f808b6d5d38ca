#pragma once

#include "course/courseinfo.h"

#include <QJsonObject>
#include <QListWidget>

class CourseListItem;
class QSignalMapper;

// Today's courses, one row per course, filled from the web service's
// replies. Confirming a course emits s_doClass.
class CourseList : public QListWidget
{
    Q_OBJECT
public:
    explicit CourseList(QWidget *parent = nullptr);

    // Sends the request for one list type (1 teacher list, 2 student list);
    // the reply is handled later on this thread.
    void requestTodayCourses(int listType);
    // What a reply does to the list: rows added, s_showClass() when any.
    void handleReply(bool ok, const QByteArray &body, int listType);
    // Empties the list; replies of requests sent before are dropped.
    void clearCourses();

    static CourseInfo parseCourseInfo(const QJsonObject &course, int listType);
    // Request path and parameter of a list type for a user of that role.
    static QString requestPath(int listType, const QString &userType);

    CourseListItem *entry(int row) const;
    QListWidgetItem *currentListItem() const { return m_current; }

    // More rows than this from one reply are not shown.
    static constexpr int kMaxRowsPerReply = 200;

protected:
    void keyPressEvent(QKeyEvent *event) override;

signals:
    void closeMessage();
    void s_doClass(CourseInfo info);
    void s_showClass();

public slots:
    void enterClass(int indexItem);
    void doItemPressed(QListWidgetItem *item);
    void doClass(CourseInfo info);
    void acceptClass();

private:
    void addCourse(const CourseInfo &info);

    QSignalMapper *m_mapper = nullptr;
    QListWidgetItem *m_current = nullptr;
    bool m_firstSelection = true;
    // Counts refreshes; a reply of an earlier one is stale.
    int m_generation = 0;
};
