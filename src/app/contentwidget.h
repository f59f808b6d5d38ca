#pragma once

#include "course/courseinfo.h"

#include <QWidget>

class CourseWidget;
class Screen;
class StudentWidget;

// The main window's body: the course panel, the classroom screen and the
// chat panel side by side. Entering a course reaches the screen first, then
// the chat panel.
class ContentWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ContentWidget(QWidget *parent = nullptr);

    void onLogin();
    void onLogout();
    // The main window goes to the tray.
    void onClose();

    CourseWidget *coursePanel() const { return course; }
    StudentWidget *chatPanel() const { return student; }
    Screen *screen() const { return m_screen; }
    bool isCourseShown() const { return courseShown; }

public slots:
    void isCourseDisplay();
    void isStudentDisplay();
    void slot_joinChat(CourseInfo info);
    // A local file chosen in the title bar.
    void local_play(QString filename);

private:
    CourseWidget *course;
    StudentWidget *student;
    bool courseShown = true;
    bool studentShown = true;
    Screen *m_screen;
};
