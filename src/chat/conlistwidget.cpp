#include "chat/conlistwidget.h"

#include "base/logging.h"
#include "chat/chatstyle.h"
#include "net/avatarloader.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QScrollBar>
#include <QTimer>

ConListWidget::ConListWidget(QWidget *parent) : QListWidget(parent)
{
    setStyleSheet(QStringLiteral("border:none; color:#0055ff"));
    verticalScrollBar()->setStyleSheet(chatScrollBarStyle());
    setIconSize(QSize(20, 20));
    setAccessibleName(tr("学员列表"));
    QPixmap transparent(20, 20);
    transparent.fill(Qt::transparent);
    blank = QIcon(transparent);
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
    auto *item = new QListWidgetItem(blank, u.nick_name);
    item->setTextAlignment(Qt::AlignJustify);
    addItem(item);
    users[key] = item;
    loader->request(u.photo, u.uid);
    return true;
}

void ConListWidget::showPicture(const QString &uid, const QImage &image)
{
    // The participant may have left meanwhile.
    QListWidgetItem *item = entry(uid);
    if (!item)
        return;
    // Many participants share a picture (the built-in one): one icon.
    if (image.cacheKey() != lastPicture) {
        lastPicture = image.cacheKey();
        lastIcon = QIcon(QPixmap::fromImage(image));
    }
    item->setIcon(lastIcon);
}

void ConListWidget::slot_userIn(data_chat_use u)
{
    addPending(true);
    if (addUser(u))
        emit s_studentSum(participants());
}

void ConListWidget::slot_userOut(data_chat_use u)
{
    addPending(true);
    const auto it = users.find(u.uid.toStdString());
    if (it == users.end())
        return;
    delete takeItem(row(it->second));
    users.erase(it);
    emit s_studentSum(participants());
}

void ConListWidget::slot_usersListInf(std::vector<data_chat_use> list)
{
    addPending(true);
    pending.assign(list.begin(), list.end());
    listPending = true;
    addPending(false);
}

void ConListWidget::addPending(bool all)
{
    // A long list goes in a part per turn of the event loop, bounded by time
    // (a slow machine adds fewer), so the window stays responsive; whatever
    // comes next about participants first adds what is still waiting, so
    // nothing is taken out of order. The count is told once per part: each
    // telling lays out the tab's text again.
    if (!listPending)
        return;
    QElapsedTimer spent;
    spent.start();
    bool added = false;
    while (!pending.empty() && (all || spent.elapsed() < kBatchMs)) {
        added = addUser(pending.front()) || added;
        pending.pop_front();
    }
    if (pending.empty()) {
        listPending = false;
        emit s_studentSum(participants());
        return;
    }
    if (added)
        emit s_studentSum(participants());
    if (!addScheduled) {
        addScheduled = true;
        QTimer::singleShot(0, this, [this]() {
            addScheduled = false;
            addPending(false);
        });
    }
}

void ConListWidget::slot_clearUsersList()
{
    pending.clear();
    listPending = false;
    overfull = false;
    users.clear();
    clear();
    emit s_studentSum(0);
}
