#pragma once

#include "course/courseinfo.h"

#include <QWidget>

class CourseList;
class QLabel;

// The course panel at the left of the content area: today's courses, or the
// empty-course picture while there are none.
class CourseWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CourseWidget(QWidget *parent = nullptr);

    // Empties the list and asks for today's courses of the signed-in user.
    void refreshCourses();

    CourseList *list() const { return m_list; }
    QLabel *emptyLabel() const { return m_empty; }

signals:
    void s_doClass(CourseInfo info);

public slots:
    void slot_showClass();

private:
    CourseList *m_list;
    QLabel *m_empty;
};
