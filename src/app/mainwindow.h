#pragma once

#include <QMainWindow>

class QTimer;

class ContentWidget;
class StatusWidget;
class TitleWidget;

// The frameless main window: title bar, content area, status bar. One
// instance for the whole run; its commands go to app as signals.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    // The process-wide window, created on first use.
    static MainWindow *instance();

    void loginOut();
    void loginSuccess();
    // Sent to the tray: the content area stops what plays.
    void onTray();
    // Where and as large as the user left it in this installation, if that
    // place is on a screen now; else centred on the screen.
    void placeOnScreen();
    // The user's settings file that keeps the place.
    static QString settingsPath();

    TitleWidget *title() const { return titleBar; }
    StatusWidget *status() const { return statusBar; }
    ContentWidget *contentArea() const { return content; }

signals:
    void s_loginOut();
    void s_tray();
    void s_min();
    void s_max();
    void s_move(QPoint pMove);
    void exitWindow();
    void s_sMainWnd();

public slots:
    void slot_tray();
    void slot_showWindow();

protected:
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void savePlace();

    TitleWidget *titleBar;
    StatusWidget *statusBar;
    ContentWidget *content;
    QTimer *m_saveTimer;
    bool m_placed = false;
};
