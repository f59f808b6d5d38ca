#pragma once

#include "course/courseinfo.h"
#include "record/monitors.h"

#include <QObject>
#include <QPixmap>
#include <QVector>
#include <QWidget>

class QTimer;
class playAudioVideoCtrl;

// A small window that asks which monitor a class shows: a live thumbnail of
// each with its name beneath. Not modal. "确定" (or a double click) emits
// accepted with the chosen monitor and closes; the close icon, "取消" and
// Escape only close (rejected).
class MonitorChooser : public QWidget
{
    Q_OBJECT
public:
    explicit MonitorChooser(QWidget *parent = nullptr);

    // Shows the monitors, selected preselected, and refreshes their
    // thumbnails while shown.
    void setMonitors(const QVector<Monitor> &monitors, int selected);
    QVector<Monitor> monitorList() const { return m_monitors; }
    int selected() const { return m_selected; }
    void select(int index);
    // The tiles, one a monitor, in the list's order.
    QList<QWidget *> tiles() const { return m_tiles; }
    // How often the thumbnails are taken again.
    static constexpr int kRefreshMs = 500;

signals:
    void accepted(int index);
    void rejected();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();
    void accept();

    QVector<Monitor> m_monitors;
    QList<QWidget *> m_tiles;
    QWidget *m_row;
    QTimer *m_timer;
    int m_selected = -1;
    bool m_accepted = false;
};

// Before a teacher's class publishes: which monitor it shows. A display of
// one monitor, a Wayland session (the portal chooses there) and a remembered
// monitor that is still there need no question.
class MonitorQuestion : public QObject
{
    Q_OBJECT
public:
    MonitorQuestion(playAudioVideoCtrl *control, QObject *parent = nullptr);
    ~MonitorQuestion() override;

    // For a teacher's class, either sets the class's monitor and returns
    // false (start the class), or asks and returns true: the class starts
    // from chosen(), and not at all when the window is closed.
    bool ask(const CourseInfo &course);
    // Closes a question without an answer.
    void cancel();
    MonitorChooser *window();

signals:
    // The teacher chose a monitor (now remembered) for this class.
    void chosen(CourseInfo course);
    // The teacher closed the window without choosing: the class is off.
    void declined();

private:
    playAudioVideoCtrl *m_control;
    MonitorChooser *m_window = nullptr;
    CourseInfo m_course;
    bool m_asking = false;
};
