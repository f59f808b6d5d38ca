#include "chat/conlistwidget.h"

#include "chat/chatstyle.h"
#include "net/avatarcache.h"

#include <QIcon>
#include <QPointer>
#include <QScrollBar>

ConListWidget::ConListWidget(QWidget *parent) : QListWidget(parent)
{
    setStyleSheet(QStringLiteral("border:none; color:#0055ff"));
    verticalScrollBar()->setStyleSheet(chatScrollBarStyle());
}

QListWidgetItem *ConListWidget::entry(const QString &uid) const
{
    const auto it = users.find(uid.toStdString());
    return it == users.end() ? nullptr : it->second;
}

bool ConListWidget::addUser(const data_chat_use &u)
{
    const std::string key = u.uid.toStdString();
    if (users.count(key))
        return true;
    // The entry is listed before its picture is fetched: fetching runs a
    // nested event loop in which the same participant may arrive or leave
    // again, or the list may be cleared.
    auto *item = new QListWidgetItem(u.nick_name);
    item->setTextAlignment(Qt::AlignJustify);
    addItem(item);
    users[key] = item;

    QPointer<ConListWidget> self(this);
    const QString picture = avatarPath(u.photo, u.uid);
    if (!self)
        return false;
    const auto it = users.find(key);
    if (it != users.end() && it->second == item)
        item->setIcon(QIcon(picture));
    return true;
}

void ConListWidget::slot_userIn(data_chat_use u)
{
    if (users.count(u.uid.toStdString()))
        return;
    if (!addUser(u))
        return;
    emit s_studentSum(participants());
}

void ConListWidget::slot_userOut(data_chat_use u)
{
    const auto it = users.find(u.uid.toStdString());
    if (it == users.end())
        return;
    delete takeItem(row(it->second));
    users.erase(it);
    emit s_studentSum(participants());
}

void ConListWidget::slot_usersListInf(std::vector<data_chat_use> list)
{
    const unsigned clearsBefore = clears;
    QPointer<ConListWidget> self(this);
    for (const data_chat_use &u : list) {
        slot_userIn(u);
        if (!self)
            return;
        if (clears != clearsBefore)
            break;
    }
    emit s_studentSum(participants());
}

void ConListWidget::slot_clearUsersList()
{
    ++clears;
    users.clear();
    clear();
    emit s_studentSum(0);
}
