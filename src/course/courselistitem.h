#pragma once

#include "course/courseinfo.h"

#include <QDateTime>
#include <QWidget>

class ColorBtn;
class MessageBox;
class QLabel;
class QListWidgetItem;
class QTimer;

// One course of today's list: number, name, lesson, kind of teaching, and a
// countdown to the moment the class may be entered (1800 s before its start),
// after which a button enters or confirms the class.
class CourseListItem : public QWidget
{
    Q_OBJECT
public:
    CourseListItem(QListWidgetItem *item, const CourseInfo &info, QWidget *parent = nullptr);
    ~CourseListItem() override;

    // The row's painter highlights a row by this mark.
    bool selected = false;

    QListWidgetItem *listItem() const { return m_item; }
    const CourseInfo &courseInfo() const { return m_info; }
    QLabel *countdownLabel() const { return m_timeLabel; }
    ColorBtn *enterButton() const { return m_enterBtn; }
    ColorBtn *confirmButton() const { return m_confirmBtn; }
    bool isCountingDown() const;
    // The question asked before entering, centred on the list's window when
    // asked; made on first use.
    MessageBox *confirmBox();
    // The question names the class; a teacher is told the desktop will be
    // shared.
    static QString questionText(const CourseInfo &info);
    static constexpr int kMaxQuestionNameChars = 40;

    // "yyyy-MM-dd hh:mm-hh:mm" loses its end time; a text whose last "-"
    // stands before index 16 is kept whole.
    static QString cutAppointmentTime(const QString &appointment);
    // Seconds from now to the start; false when the time does not parse.
    static bool secondsUntil(const QString &appointment, const QDateTime &now, qint64 *remaining);
    // The countdown label's text at a tick with that many seconds left.
    static QString countdownText(qint64 remaining);
    static QString teachingTypeText(const QString &teachingType);

    // Local time now; replaceable for tests.
    static QDateTime (*currentTime)();

    static constexpr qint64 kEnterThreshold = 1800;

    // Enter pressed on the row: as a click on its button, if it shows one.
    void enterByKeyboard();
    // The row's course, lesson, time and kind, for a reader.
    QString spokenSummary() const;

signals:
    void enterClass();
    void doClass(CourseInfo info);
    void closeMessage();

public slots:
    void displayItemBackground(bool is_display = true);
    void doClass(bool enabled);
    void displayTimeLabel();
    void acceptClass();

private:
    void buildFace();
    void showEnterable(bool confirm);

    QListWidgetItem *m_item;
    qint64 m_threshold = kEnterThreshold;
    CourseInfo m_info;
    QTimer *m_timer;
    QLabel *m_timeLabel = nullptr;
    ColorBtn *m_enterBtn = nullptr;
    ColorBtn *m_confirmBtn = nullptr;
    MessageBox *m_box = nullptr;
};
