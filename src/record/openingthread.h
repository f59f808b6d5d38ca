#pragma once

#include <QThread>

#include <functional>

// Runs a start's opening steps (devices, encoder) off the window's thread.
// (QThread::create would go through std::async, whose thread-local state makes
// every program that links it need the dynamic loader by name.)
class OpeningThread : public QThread
{
public:
    OpeningThread(std::function<void()> job, QObject *parent) : QThread(parent), m_job(std::move(job)) {}

private:
    void run() override { m_job(); }
    std::function<void()> m_job;
};
