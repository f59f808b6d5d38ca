#pragma once

#include "chat/chatrecords.h"

#include <QIcon>
#include <QListWidget>

#include <deque>
#include <map>
#include <string>
#include <vector>

class AvatarLoader;

// The class's participants, one entry each (picture and nick name), keyed
// by uid. Pictures come from the picture cache and arrive after their
// entries.
class ConListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit ConListWidget(QWidget *parent = nullptr);

    int participants() const { return int(users.size()); }
    // The entry shown for uid, or null.
    QListWidgetItem *entry(const QString &uid) const;
    // Pictures still on their way.
    int picturesPending() const;
    // Time spent adding a long list's entries per turn of the event loop.
    static constexpr int kBatchMs = 10;

signals:
    void s_studentSum(int);

public slots:
    void slot_userIn(data_chat_use u);
    void slot_userOut(data_chat_use u);
    void slot_usersListInf(std::vector<data_chat_use> list);
    void slot_clearUsersList();

private:
    bool addUser(const data_chat_use &u);
    void addPending(bool all);
    void showPicture(const QString &uid, const QImage &image);

    std::map<std::string, QListWidgetItem *> users;
    AvatarLoader *loader;
    QIcon blank; // holds a picture's place until it comes
    qint64 lastPicture = 0;
    QIcon lastIcon;
    std::deque<data_chat_use> pending;
    bool listPending = false;
    bool addScheduled = false;
    bool overfull = false;
};
