#include "app/contentwidget.h"

#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "classroom/screen.h"
#include "course/coursewidget.h"
#include "recorder/recordwindow.h"

#include <QHBoxLayout>

ContentWidget::ContentWidget(QWidget *parent) : QWidget(parent)
{
    qRegisterMetaType<CourseInfo>("CourseInfo");
    course = new CourseWidget;
    student = new StudentWidget;
    m_screen = new Screen;

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(course);
    layout->addWidget(m_screen, 1);
    layout->addWidget(student);

    connect(m_screen, SIGNAL(isCourseDisplay()), this, SLOT(isCourseDisplay()));
    connect(m_screen, SIGNAL(isStudentDisplay()), this, SLOT(isStudentDisplay()));
    // The screen is told first, then the chat panel.
    connect(course, SIGNAL(s_doClass(CourseInfo)), m_screen, SLOT(slot_doClass(CourseInfo)));
    // Only a class the screen entered (a live class's teacher may say no).
    connect(m_screen, SIGNAL(s_classEntered(CourseInfo)), this, SLOT(slot_joinChat(CourseInfo)));
    connect(m_screen, SIGNAL(s_chatOut()), student, SLOT(slot_logOutChat()));
    // The recorder's "回放" plays in this window's local player.
    connect(Screen::processRecordWindow(), &recordWindow::s_playBack, this, [this](const QString &file) {
        local_play(file);
        window()->raise();
        window()->activateWindow();
    });
    // The teacher's screen counts the class's students.
    connect(student->conListWidget(), SIGNAL(s_studentSum(int)), m_screen, SLOT(setParticipants(int)));
}

void ContentWidget::isCourseDisplay()
{
    course->setVisible(!courseShown);
    course->update();
    courseShown = !courseShown;
}

void ContentWidget::isStudentDisplay()
{
    student->setVisible(!studentShown);
    student->update();
    studentShown = !studentShown;
}

void ContentWidget::slot_joinChat(CourseInfo info)
{
    student->joinClass(info);
}

void ContentWidget::local_play(QString filename)
{
    m_screen->local_play(filename);
}

void ContentWidget::onLogin()
{
    course->refreshCourses();
    m_screen->resetPlayMode();
    student->startChat();
}

void ContentWidget::onLogout()
{
    m_screen->loginOut();
    student->slot_logOutChat();
}

void ContentWidget::onClose()
{
    m_screen->stopScreen();
}
