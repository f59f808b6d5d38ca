#pragma once

#include "chat/chatrecords.h"

#include <QListWidget>
#include <QPixmap>

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

signals:
    void s_studentSum(int);

public slots:
    void slot_userIn(data_chat_use u);
    void slot_userOut(data_chat_use u);
    void slot_usersListInf(std::vector<data_chat_use> list);
    void slot_clearUsersList();

private:
    bool addUser(const data_chat_use &u);
    void showPicture(const QString &uid, const QImage &image);

    std::map<std::string, QListWidgetItem *> users;
    AvatarLoader *loader;
    QPixmap blank; // holds a picture's place until it comes
    bool overfull = false;
};
