#include "course/coursewidget.h"

#include "course/courselist.h"
#include "net/userinfo.h"
#include "ui/builtinpicture.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

CourseWidget::CourseWidget(QWidget *parent) : QWidget(parent)
{
    setFixedWidth(230);
    setMinimumHeight(500);
    setContentsMargins(0, 0, 0, 0);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x1f, 0x26, 0x38));
    setPalette(pal);

    m_list = new CourseList(this);
    m_empty = new QLabel(this);
    m_empty->setPixmap(builtinPicture(QStringLiteral(":/images/sys/emptyCourse"), m_empty->devicePixelRatioF()));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 5, 0, 5);
    layout->addWidget(m_list);
    layout->addWidget(m_empty, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    m_empty->hide();

    connect(m_list, SIGNAL(s_doClass(CourseInfo)), this, SIGNAL(s_doClass(CourseInfo)));
    connect(m_list, SIGNAL(s_showClass()), this, SLOT(slot_showClass()));
}

void CourseWidget::refreshCourses()
{
    m_list->clearCourses();
    m_empty->hide();
    const QString type = UserInfo::instance().type;
    if (type == QLatin1String("2")) {
        m_list->requestTodayCourses(1);
        m_list->requestTodayCourses(2);
    } else if (type == QLatin1String("3")) {
        m_list->requestTodayCourses(1);
    } else {
        m_list->requestTodayCourses(2);
    }
    m_list->hide();
    m_empty->show();
}

void CourseWidget::slot_showClass()
{
    m_list->show();
    m_empty->hide();
}
