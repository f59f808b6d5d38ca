#include "course/courselist.h"

#include "base/logging.h"
#include "course/coursedelegate.h"
#include "course/courselistitem.h"
#include "course/coursereply.h"
#include "net/tavihttp.h"
#include "net/userinfo.h"

#include <QKeyEvent>
#include <QPointer>
#include <QSignalMapper>

CourseList::CourseList(QWidget *parent) : QListWidget(parent)
{
    setFixedWidth(230);
    setMinimumHeight(500);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::Window, QColor(0x1f, 0x26, 0x38));
    setPalette(pal);
    setAutoScroll(true);
    setResizeMode(QListView::Adjust);
    setWordWrap(true);
    setFrameShape(QFrame::NoFrame);
    setStyleSheet(QStringLiteral("background-color:transparent"));
    setItemDelegate(new CourseDelegate(this));
    // The delegate paints the row under the mouse.
    viewport()->setAttribute(Qt::WA_Hover);
    setAccessibleName(tr("今日课程"));
}

void CourseList::keyPressEvent(QKeyEvent *event)
{
    // The arrows move through the courses (the list's own keys); Enter
    // enters the current one as its button does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (CourseListItem *current = currentItem() ? entry(row(currentItem())) : nullptr) {
            event->accept();
            current->enterByKeyboard();
            return;
        }
    }
    QListWidget::keyPressEvent(event);
}

QString CourseList::requestPath(int listType, const QString &userType)
{
    if (listType == 1)
        return QStringLiteral("/teacher/courseall/todaycourse?type=teacher");
    if (userType == QLatin1String("2"))
        return QStringLiteral("/teacher/courseall/todaycourse?type=student");
    return QStringLiteral("/student/courseall/todaycourse?type=student");
}

void CourseList::requestTodayCourses(int listType)
{
    if (listType != 1)
        listType = 2;
    QMap<QString, QString> params;
    params.insert(QStringLiteral("type"), listType == 1 ? QStringLiteral("teacher") : QStringLiteral("student"));
    auto *http = new TaviHttp(requestPath(listType, UserInfo::instance().type), params, 80, false);
    // The list may be gone, or refreshed for another user, by the time the
    // reply comes.
    QPointer<CourseList> self(this);
    const int generation = m_generation;
    http->setCallback([self, generation, listType, http](bool ok, QByteArray body) {
        http->deleteLater();
        if (!self)
            return;
        if (self->m_generation != generation) {
            TAVI_LOG_DEBUG("course list: reply of an earlier refresh dropped");
            return;
        }
        self->handleReply(ok, body, listType);
    });
    http->get();
}

void CourseList::handleReply(bool ok, const QByteArray &body, int listType)
{
    if (!ok)
        return;
    const CourseReply reply = readCourseReply(body, listType, kMaxRowsPerReply);
    if (!reply.accepted) {
        TAVI_LOG_WARN("course list: the server refused the request");
        return;
    }
    TAVI_LOG_DEBUG("course list: " << reply.listed << " courses listed");
    if (reply.courses.isEmpty())
        return;

    m_mapper = new QSignalMapper(this);
    connect(m_mapper, SIGNAL(mappedInt(int)), this, SLOT(enterClass(int)));
    for (const CourseInfo &info : reply.courses)
        addCourse(info);
    connect(this, SIGNAL(itemPressed(QListWidgetItem *)), this, SLOT(doItemPressed(QListWidgetItem *)),
            Qt::UniqueConnection);
    emit s_showClass();
}

void CourseList::addCourse(const CourseInfo &info)
{
    auto *item = new QListWidgetItem(this);
    auto *entry = new CourseListItem(item, info);
    // Rows are looked up by their place in the whole list, which stays put
    // until the next refresh, not by their place in one reply.
    m_mapper->setMapping(entry, row(item));
    connect(entry, SIGNAL(enterClass()), m_mapper, SLOT(map()));
    connect(entry, SIGNAL(doClass(CourseInfo)), this, SLOT(doClass(CourseInfo)));
    setItemWidget(item, entry);
    item->setData(Qt::AccessibleTextRole, entry->spokenSummary());
}

void CourseList::clearCourses()
{
    clear();
    m_current = nullptr;
    m_firstSelection = true;
    ++m_generation;
    qDeleteAll(findChildren<QSignalMapper *>(QString(), Qt::FindDirectChildrenOnly));
    m_mapper = nullptr;
}

CourseInfo CourseList::parseCourseInfo(const QJsonObject &course, int listType)
{
    return courseFromJson(course, listType);
}

CourseListItem *CourseList::entry(int row) const
{
    QListWidgetItem *it = item(row);
    return it ? qobject_cast<CourseListItem *>(itemWidget(it)) : nullptr;
}

void CourseList::enterClass(int indexItem)
{
    CourseListItem *entered = entry(indexItem);
    if (!entered)
        return;
    QListWidgetItem *enteredItem = entered->listItem();
    if (!m_current)
        m_current = enteredItem;
    if (m_firstSelection) {
        setCurrentItem(m_current);
        m_firstSelection = false;
    } else if (enteredItem != m_current) {
        if (CourseListItem *previous = qobject_cast<CourseListItem *>(itemWidget(m_current)))
            previous->selected = false;
        m_current = enteredItem;
        entered->selected = true;
        setCurrentItem(m_current);
    }
    viewport()->update();
}

void CourseList::doItemPressed(QListWidgetItem *item)
{
    auto *pressed = qobject_cast<CourseListItem *>(itemWidget(item));
    // A press on another row does not move the highlight.
    if (m_current && pressed && !pressed->selected)
        setCurrentItem(m_current);
}

void CourseList::doClass(CourseInfo info)
{
    emit s_doClass(info);
    TAVI_LOG_INFO("class chosen: " << tavi::logExcerpt(info.name));
}

void CourseList::acceptClass() {}
