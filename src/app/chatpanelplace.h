#pragma once

#include "course/courseinfo.h"

#include <QWidget>

// Holds the chat panel's place at the right of the content area: its size
// and background, and the three calls the content area makes on the chat
// panel. They only announce themselves until the chat panel takes this place.
class ChatPanelPlace : public QWidget
{
    Q_OBJECT
public:
    explicit ChatPanelPlace(QWidget *parent = nullptr);

    // After a sign-in.
    void startChat();
    // A class has been entered.
    void joinClass(CourseInfo info);

signals:
    void s_started();
    void s_joined(CourseInfo info);
    void s_left();

public slots:
    // At sign-out, and when the class ends.
    void slot_logOutChat();
};
