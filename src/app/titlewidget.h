#pragma once

#include <QList>
#include <QPoint>
#include <QWidget>

class BitmapLabel;
class CommonButton;
class IconBtn;
class Label;
class MessageBox;
class WindowDrag;

// The main window's title bar: logo, the user's picture and name, the
// sign-out link, two tabs and the window buttons. Dragging it moves the
// main window; a double click maximises or restores it.
class TitleWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TitleWidget(QWidget *parent = nullptr);

    // Shows the user who has just signed in.
    void loginSuccess();
    // Shows "未登录"; the picture stays.
    void loginOut();

    CommonButton *tab(int index) const { return tabs.value(index); }
    IconBtn *maxButton() const { return maxBtn; }
    IconBtn *closeButton() const { return closeBtn; }
    Label *userNameLabel() const { return nameLabel; }
    Label *logoutLink() const { return logoutLabel; }
    BitmapLabel *userPhotoLabel() const { return photoLabel; }
    MessageBox *logoutConfirm() const { return logoutBox; }

signals:
    void local_play(QString filname);
    void s_loginOut();
    void s_min();
    void s_max();
    void s_tray();
    void s_move(QPoint pMove);

public slots:
    void doJump(QString index);
    void triggleInit();
    void slot_logOut();
    void slot_MsgAccept();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    IconBtn *logoBtn;
    QList<CommonButton *> tabs;
    IconBtn *minBtn;
    IconBtn *closeBtn;
    IconBtn *maxBtn;
    BitmapLabel *photoLabel;
    Label *nameLabel;
    Label *logoutLabel;
    bool firstJump;
    WindowDrag *drag;
    MessageBox *logoutBox;
};
