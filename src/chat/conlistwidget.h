#pragma once

#include "chat/chatrecords.h"

#include <QListWidget>

#include <map>
#include <string>
#include <vector>

// The class's participants, one entry each (picture and nick name), keyed
// by uid.
class ConListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit ConListWidget(QWidget *parent = nullptr);

    int participants() const { return int(users.size()); }
    // The entry shown for uid, or null.
    QListWidgetItem *entry(const QString &uid) const;

signals:
    void s_studentSum(int);

public slots:
    void slot_userIn(data_chat_use u);
    void slot_userOut(data_chat_use u);
    void slot_usersListInf(std::vector<data_chat_use> list);
    void slot_clearUsersList();

private:
    bool addUser(const data_chat_use &u);

    std::map<std::string, QListWidgetItem *> users;
    // Counts clears: a list being added while the panel is cleared stops.
    unsigned clears = 0;
};
