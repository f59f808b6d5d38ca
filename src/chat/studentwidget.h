#pragma once

#include "chat/chatrecords.h"
#include "course/courseinfo.h"
#include "ui/popwidget.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

class AuditionListWidget;
class ConListWidget;
class DataReceive;
class TalkWidget;
class TextBtn;

// The chat panel at the right of the content area: the class discussion
// and the participant list over the chat connection, which it owns.
class StudentWidget : public QWidget
{
    Q_OBJECT
public:
    explicit StudentWidget(QWidget *parent = nullptr);
    ~StudentWidget() override;

    // After every login: opens the chat connection (the first time only).
    void startChat();
    // The class was entered: announce it to the chat server.
    void joinClass(CourseInfo course);

    DataReceive *connection() const { return dataReceive; }
    TalkWidget *talkWidget() const { return talk; }
    ConListWidget *conListWidget() const { return conList; }
    TextBtn *tabButton(int i) const { return tabs.value(i); }
    const CourseInfo &currentCourse() const { return course; }
    popWidget *currentNotice() const { return notice; }
    QString webHost() const { return webUrl; }

signals:
    void s_msg_userslist(std::vector<data_chat_use>);
    void s_msg_userIn(data_chat_use);
    void s_msg_userOut(data_chat_use);
    void s_msg_msg(data_chat_msg);

public slots:
    void studentTurnPage(int i);
    void slot_connected();
    void slot_logOutChat();
    void slot_receiveRawMsg(QString msg);
    void slot_sendMsg(QString msg);
    void slot_studentSum(int);

private:
    void send(const std::string &text);
    void showNotice(const QString &title, const QString &link);

    QList<TextBtn *> tabs;
    int page = -1;
    TalkWidget *talk;
    ConListWidget *conList;
    AuditionListWidget *auditionList;
    QList<QWidget *> pages;
    DataReceive *dataReceive;
    CourseInfo course;
    bool inClass = false; // joined and not left since
    QPointer<popWidget> notice;
    QString webUrl;
};
