#include "app/chatpanelplace.h"

ChatPanelPlace::ChatPanelPlace(QWidget *parent) : QWidget(parent)
{
    setFixedWidth(230);
    setMinimumHeight(500);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::All, QPalette::Window, QColor(0xff, 0xff, 0xff));
    setPalette(pal);
}

void ChatPanelPlace::startChat()
{
    emit s_started();
}

void ChatPanelPlace::joinClass(CourseInfo info)
{
    emit s_joined(info);
}

void ChatPanelPlace::slot_logOutChat()
{
    emit s_left();
}
