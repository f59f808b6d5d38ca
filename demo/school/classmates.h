#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The scripted classmates who sit in every demo class, and what they say.
struct Classmate
{
    QString uid;
    QString name;
    QString nickName;
};

const std::vector<Classmate> &demoClassmates();
// Something a classmate might say in class.
const QStringList &classmateLines();

// The notices the school sends now and then.
struct DemoNotice
{
    bool courseware; // else news
    int id;
    QString title;
};
const std::vector<DemoNotice> &demoNotices();
