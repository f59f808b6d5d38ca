#include "chat/studentwidget.h"

#include "base/config.h"
#include "chat/DataReceive.h"
#include "chat/auditionlistwidget.h"
#include "chat/conlistwidget.h"
#include "chat/datachatrecv.h"
#include "chat/datachatsend.h"
#include "chat/talkcontent.h"
#include "chat/talkwidget.h"
#include "net/avatarcache.h"
#include "net/cookiejar.h"
#include "net/flash.h"
#include "ui/popwidget.h"
#include "ui/textbtn.h"

#include <QHBoxLayout>
#include <QPalette>
#include <QSignalMapper>
#include <QVBoxLayout>

StudentWidget::StudentWidget(QWidget *parent) : QWidget(parent)
{
    registerChatMetaTypes();
    setFixedWidth(230);
    setMinimumHeight(500);
    webUrl = tavi::sysConfigValue(QStringLiteral("/TaviHttp/webUrl"));
    clearAvatarCache();

    tabs << new TextBtn(tr("讨  论"), QString(), 14, 10, 80, 30, this)
         << new TextBtn(tr("学 员"), QStringLiteral("(0)"), 14, 10, 80, 30, this)
         << new TextBtn(tr("试 听"), QStringLiteral("(0)"), 14, 10, 80, 30, this);
    tabs[2]->hide(); // the audition list is not offered
    auto *mapper = new QSignalMapper(this);
    for (int i = 0; i < tabs.size(); ++i) {
        mapper->setMapping(tabs[i], i);
        connect(tabs[i], SIGNAL(clicked(bool)), mapper, SLOT(map()));
    }
    connect(mapper, SIGNAL(mapped(int)), this, SLOT(studentTurnPage(int)));

    dataReceive = new DataReceive;
    talk = new TalkWidget;
    conList = new ConListWidget;
    auditionList = new AuditionListWidget;
    pages << talk << conList << auditionList;
    connect(dataReceive, SIGNAL(s_reiveMsg(QString)), this, SLOT(slot_receiveRawMsg(QString)));
    connect(dataReceive, SIGNAL(s_connected()), this, SLOT(slot_connected()));
    connect(dataReceive, &DataReceive::s_connected, talk, [this]() { talk->setOnline(true); });
    connect(dataReceive, &DataReceive::s_disconnected, talk, [this]() { talk->setOnline(false); });
    connect(dataReceive, &DataReceive::s_tlsFailed, this, []() { Flash::notice(tr("聊天安全连接失败")); });
    connect(this, SIGNAL(s_msg_msg(data_chat_msg)), talk, SLOT(slot_receiveMsg(data_chat_msg)));
    connect(this, SIGNAL(s_msg_userslist(std::vector<data_chat_use>)), conList,
            SLOT(slot_usersListInf(std::vector<data_chat_use>)));
    connect(this, SIGNAL(s_msg_userIn(data_chat_use)), conList, SLOT(slot_userIn(data_chat_use)));
    connect(this, SIGNAL(s_msg_userOut(data_chat_use)), conList, SLOT(slot_userOut(data_chat_use)));
    connect(talk, SIGNAL(s_send(QString)), this, SLOT(slot_sendMsg(QString)));
    connect(conList, SIGNAL(s_studentSum(int)), this, SLOT(slot_studentSum(int)));

    auto *tabBar = new QWidget(this);
    tabBar->setFixedSize(230, 35);
    tabBar->setContentsMargins(0, 0, 0, 0);
    auto *tabLayout = new QHBoxLayout(tabBar);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->setSpacing(0);
    tabLayout->addWidget(tabs[0]);
    tabLayout->addWidget(tabs[1]);

    auto *pageLayout = new QHBoxLayout;
    pageLayout->setContentsMargins(10, 10, 10, 10);
    for (QWidget *w : pages)
        pageLayout->addWidget(w);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tabBar);
    layout->addLayout(pageLayout);

    QPalette palette = this->palette();
    palette.setColor(QPalette::All, QPalette::Window, QColor(0xff, 0xff, 0xff));
    setPalette(palette);
    setAutoFillBackground(true);
    emit tabs[0]->clicked(false);
}

StudentWidget::~StudentWidget()
{
    delete dataReceive;
}

void StudentWidget::studentTurnPage(int i)
{
    if (i == page || i < 0 || i >= pages.size())
        return;
    for (int j = 0; j < tabs.size(); ++j) {
        if (j == i)
            continue;
        tabs[j]->setChecked(false);
        pages[j]->hide();
    }
    tabs[i]->setChecked(true);
    pages[i]->show();
    page = i;
}

void StudentWidget::slot_studentSum(int n)
{
    tabs[1]->setText2(QStringLiteral("(%1)").arg(n));
    update();
}

void StudentWidget::startChat()
{
    dataReceive->createDataRecvWS();
}

void StudentWidget::send(const std::string &text)
{
    dataReceive->slot_send(text);
}

void StudentWidget::slot_connected()
{
    // A new connection is unknown to the server: say who we are on every
    // one, and rejoin the class we are in; its participant list comes anew.
    send(data_chat_send::sessionText(CookieJar::instance()->getCookie(QStringLiteral("marlo"))));
    if (inClass) {
        conList->slot_clearUsersList();
        send(data_chat_send::joinText(course.id, CookieJar::instance()->getCookie(QStringLiteral("marlo"))));
    }
}

void StudentWidget::joinClass(CourseInfo c)
{
    course = c;
    inClass = true;
    // Lines of an earlier class are not this one's.
    talk->content()->clear();
    // The server answers with the whole list of the class entered.
    conList->slot_clearUsersList();
    send(data_chat_send::joinText(course.id, CookieJar::instance()->getCookie(QStringLiteral("marlo"))));
}

void StudentWidget::slot_logOutChat()
{
    send(data_chat_send::leaveText());
    inClass = false;
    conList->slot_clearUsersList();
}

void StudentWidget::slot_sendMsg(QString msg)
{
    send(data_chat_send::lineText(msg));
}

void StudentWidget::showNotice(const QString &title, const QString &link)
{
    auto *pop = new popWidget;
    notice = pop;
    pop->setMsg(QStringLiteral("Corvena"), title, link);
    pop->showPop();
}

void StudentWidget::slot_receiveRawMsg(QString msg)
{
    const QByteArray utf8 = msg.toUtf8();
    data_chat_recv recv;
    switch (recv.read(std::string(utf8.constData(), size_t(utf8.size())))) {
    case data_chat_recv::UsersList:
        emit s_msg_userslist(recv.users());
        break;
    case data_chat_recv::UserIn:
        emit s_msg_userIn(recv.user());
        break;
    case data_chat_recv::UserOut:
        emit s_msg_userOut(recv.user());
        break;
    case data_chat_recv::Line:
        emit s_msg_msg(recv.msg());
        break;
    case data_chat_recv::Courseware: {
        const data_chat_courseware c = recv.courseware();
        // Without an id there is no page to open.
        if (c.hasId)
            showNotice(c.title, QStringLiteral("%1/courseware/%2.html").arg(tavi::siteAddress(webUrl)).arg(c.id));
        else if (!c.title.isEmpty())
            showNotice(c.title, QString());
        break;
    }
    case data_chat_recv::News: {
        const data_chat_news n = recv.news();
        if (n.hasId)
            showNotice(n.title, QStringLiteral("%1/news/%2.html").arg(tavi::siteAddress(webUrl)).arg(n.id));
        else if (!n.title.isEmpty())
            showNotice(n.title, QString());
        break;
    }
    default:
        break;
    }
}
