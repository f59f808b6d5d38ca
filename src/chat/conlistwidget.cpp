#include "chat/conlistwidget.h"

#include "net/avatarloader.h"
#include "base/logging.h"
#include "chat/chatstyle.h"

#include <QIcon>
#include <QScrollBar>

ConListWidget::ConListWidget(QWidget *parent) : QListWidget(parent)
{
    setStyleSheet(QStringLiteral("border:none; color:#0055ff"));
    verticalScrollBar()->setStyleSheet(chatScrollBarStyle());
    setIconSize(QSize(20, 20));
    blank = QPixmap(20, 20);
    blank.fill(Qt::transparent);
    loader = new AvatarLoader(this);
    connect(loader, &AvatarLoader::picture, this, &ConListWidget::showPicture);
}

QListWidgetItem *ConListWidget::entry(const QString &uid) const
{
    const auto it = users.find(uid.toStdString());
    return it == users.end() ? nullptr : it->second;
}

int ConListWidget::picturesPending() const
{
    return loader->pending();
}

bool ConListWidget::addUser(const data_chat_use &u)
{
    const std::string key = u.uid.toStdString();
    if (users.count(key))
        return false;
    if (participants() >= kMaxParticipants) {
        if (!overfull)
            TAVI_LOG_WARN("participant list full (" << kMaxParticipants << "), more are not shown");
        overfull = true;
        return false;
    }
    auto *item = new QListWidgetItem(QIcon(blank), u.nick_name);
    item->setTextAlignment(Qt::AlignJustify);
    addItem(item);
    users[key] = item;
    loader->request(u.photo, u.uid);
    return true;
}

void ConListWidget::showPicture(const QString &uid, const QImage &image)
{
    // The participant may have left meanwhile.
    if (QListWidgetItem *item = entry(uid))
        item->setIcon(QIcon(QPixmap::fromImage(image)));
}

void ConListWidget::slot_userIn(data_chat_use u)
{
    if (addUser(u))
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
    for (const data_chat_use &u : list)
        slot_userIn(u);
    emit s_studentSum(participants());
}

void ConListWidget::slot_clearUsersList()
{
    overfull = false;
    users.clear();
    clear();
    emit s_studentSum(0);
}
