#include "course/courselistitem.h"

#include "net/userinfo.h"
#include "ui/colorbtn.h"
#include "ui/messagebox.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

QDateTime (*CourseListItem::currentTime)() = &QDateTime::currentDateTime;

CourseListItem::CourseListItem(QListWidgetItem *item, const CourseInfo &info, QWidget *parent)
    : QWidget(parent), m_item(item), m_info(info), m_timer(new QTimer(this))
{
    m_info.appointment_time = cutAppointmentTime(m_info.appointment_time);
    m_timer->setInterval(1000);
    connect(m_timer, SIGNAL(timeout()), this, SLOT(displayTimeLabel()));
    buildFace();

    qint64 remaining = 0;
    const bool known = secondsUntil(m_info.appointment_time, currentTime(), &remaining);
    // A start time that does not parse never becomes enterable.
    if (!known || remaining > m_threshold) {
        m_timer->start();
        m_enterBtn->hide();
        m_confirmBtn->hide();
        return;
    }
    m_timeLabel->hide();
    if (m_info.role == Role::Teacher)
        showEnterable(true);
    else if (m_info.role == Role::Student)
        showEnterable(false);
}

CourseListItem::~CourseListItem()
{
    // The question is a window of its own; it goes with its entry.
    delete m_box;
}

void CourseListItem::buildFace()
{
    setStyleSheet(QStringLiteral("QWidget{color:white;font-size:12px;}"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *content = new QWidget(this);
    content->setObjectName(QStringLiteral("content"));
    content->setAttribute(Qt::WA_StyledBackground);
    content->setContentsMargins(0, 8, 0, 8);
    content->setStyleSheet(QStringLiteral("QWidget#content{border-bottom:2px solid rgb(47,54,70)}"));
    outer->addWidget(content);

    auto *row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);

    auto *numberGroup = new QHBoxLayout;
    numberGroup->setContentsMargins(5, 0, 0, 0);
    // Every text of the record comes from the school: shown as it is, never
    // read as markup.
    const auto label = [content](const QString &text) {
        auto *l = new QLabel(content);
        l->setTextFormat(Qt::PlainText);
        l->setText(text);
        return l;
    };
    auto *number = label(m_info.seq);
    number->setObjectName(QStringLiteral("seqLabel"));
    number->setStyleSheet(QStringLiteral("QLabel{padding-top:10px;}"));
    number->setFixedWidth(18);
    numberGroup->addWidget(number, 0, Qt::AlignTop);
    row->addLayout(numberGroup);

    auto *middle = new QVBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    auto *name = label(QString());
    name->setObjectName(QStringLiteral("nameLabel"));
    name->setWordWrap(true);
    name->setFixedSize(120, 30);
    const QFontMetrics metrics(name->font());
    QString shown = m_info.name;
    if (metrics.horizontalAdvance(shown) >= 220)
        shown = metrics.elidedText(shown, Qt::ElideRight, 220);
    name->setText(shown);
    name->setToolTip(Qt::convertFromPlainText(m_info.name));
    middle->addWidget(name, 0, Qt::AlignTop);
    auto *lesson = label(tr("第%1节").arg(m_info.joint_num));
    lesson->setObjectName(QStringLiteral("lessonLabel"));
    middle->addWidget(lesson);
    m_timeLabel = label(tr("倒计时 %1").arg(m_info.appointment_time));
    m_timeLabel->setStyleSheet(QStringLiteral("QLabel{padding:1px 1px 1px -2px;border:none;color:#fbab43;}"));
    middle->addWidget(m_timeLabel);
    m_enterBtn = new ColorBtn(tr("进入课堂"), 12, 80, 24, content);
    middle->addWidget(m_enterBtn);
    m_confirmBtn = new ColorBtn(tr("确认上课"), 12, 80, 24, content);
    m_confirmBtn->setFlag(1);
    const QColor orange(251, 174, 67);
    m_confirmBtn->setBgColors(orange, orange, orange);
    middle->addWidget(m_confirmBtn);
    row->addLayout(middle);

    auto *badgeGroup = new QHBoxLayout;
    badgeGroup->setContentsMargins(0, 0, 0, 0);
    auto *badge = label(teachingTypeText(m_info.teaching_type));
    badge->setObjectName(QStringLiteral("typeLabel"));
    badge->setFixedWidth(64);
    badge->setStyleSheet(
        QStringLiteral("QLabel{padding:2px;margin-right:10px;border:1px solid rgb(255,255,255);border-radius:3px;}"));
    badgeGroup->addWidget(badge, 0, Qt::AlignTop);
    row->addLayout(badgeGroup);

    connect(m_enterBtn, SIGNAL(clicked(bool)), this, SLOT(doClass(bool)));
    connect(m_confirmBtn, SIGNAL(clicked(bool)), this, SLOT(doClass(bool)));
}

bool CourseListItem::isCountingDown() const
{
    return m_timer->isActive();
}

QString CourseListItem::questionText(const CourseInfo &info)
{
    // The name comes from the school: one line, short enough for the box.
    QString name = info.name.simplified();
    if (name.size() > kMaxQuestionNameChars)
        name = name.left(kMaxQuestionNameChars) + QChar(0x2026);
    QString text = tr("亲，您要进入此课堂吗?\n《%1》").arg(name);
    if (info.role == Role::Teacher)
        text += tr("\n开始上课后，您的整个桌面将共享给学生。");
    return text;
}

MessageBox *CourseListItem::confirmBox()
{
    if (!m_box) {
        m_box = new MessageBox(nullptr);
        m_box->setText(questionText(m_info));
        connect(m_box, SIGNAL(doAccept()), this, SLOT(acceptClass()));
        connect(this, SIGNAL(closeMessage()), m_box, SLOT(hide()));
    }
    return m_box;
}

QString CourseListItem::cutAppointmentTime(const QString &appointment)
{
    const int dash = appointment.lastIndexOf(QLatin1Char('-'));
    return dash >= 16 ? appointment.left(dash) : appointment;
}

bool CourseListItem::secondsUntil(const QString &appointment, const QDateTime &now, qint64 *remaining)
{
    const QDateTime start = QDateTime::fromString(appointment, QStringLiteral("yyyy-MM-dd hh:mm"));
    if (!start.isValid() || !now.isValid())
        return false;
    *remaining = start.toSecsSinceEpoch() - now.toSecsSinceEpoch();
    return true;
}

QString CourseListItem::countdownText(qint64 remaining)
{
    const qint64 d = remaining - kEnterThreshold - 2;
    const qint64 h = d / 3600;
    const qint64 m = (d - 3600 * h) / 60;
    const qint64 s = d - 60 * (d / 60);
    const auto two = [](qint64 n) { return (QStringLiteral("00") + QString::number(n)).right(2); };
    return tr("倒计时:%1:%2:%3").arg(two(h), two(m), two(s));
}

QString CourseListItem::teachingTypeText(const QString &teachingType)
{
    bool ok = false;
    const int type = teachingType.toInt(&ok);
    if (ok && type == 1)
        return tr("一对一");
    if (ok && type == 2)
        return tr("线下班");
    return tr("直播课");
}

void CourseListItem::showEnterable(bool confirm)
{
    m_confirmBtn->setVisible(confirm);
    m_enterBtn->setVisible(!confirm);
}

void CourseListItem::enterByKeyboard()
{
    if (m_enterBtn->isVisible())
        m_enterBtn->click();
    else if (m_confirmBtn->isVisible())
        m_confirmBtn->click();
}

QString CourseListItem::spokenSummary() const
{
    // Course, lesson, time and kind: what a sighted user reads on the row.
    return QStringList{m_info.name, tr("第%1节").arg(m_info.joint_num), m_info.appointment_time,
                       teachingTypeText(m_info.teaching_type)}
        .join(QStringLiteral(", "));
}

void CourseListItem::displayItemBackground(bool)
{
    selected = true;
    emit enterClass();
}

void CourseListItem::doClass(bool)
{
    MessageBox *box = confirmBox();
    // Over the window the list is in, wherever that is on the desktop.
    const QWidget *host = window();
    if (host != this)
        box->move(host->frameGeometry().center() - QPoint(box->width() / 2, box->height() / 2));
    box->show();
    box->raise();
    box->activateWindow();
}

void CourseListItem::displayTimeLabel()
{
    qint64 remaining = 0;
    if (!secondsUntil(m_info.appointment_time, currentTime(), &remaining))
        return;
    if (remaining <= m_threshold) {
        m_timer->stop();
        m_timeLabel->hide();
        showEnterable(UserInfo::instance().type == QLatin1String("2"));
        return;
    }
    m_timeLabel->setText(countdownText(remaining));
    m_timeLabel->update();
}

void CourseListItem::acceptClass()
{
    emit closeMessage();
    // The row of the class being entered is the highlighted one.
    displayItemBackground(true);
    emit doClass(m_info);
}
