#pragma once

#include <QThread>

#include <functional>

// Runs a start's opening steps (devices, encoder) off the window's thread.
// (QThread::create would go through std::async, whose thread-local state makes
// every program that links it need the dynamic loader by name.)
class OpeningThread : public QThread
{
public:
    // Runs job on a thread of its own, *opener set meanwhile; then done on the
    // owner's thread, once that thread has ended and *opener is null again.
    static void launch(QThread **opener, QObject *owner, std::function<void()> job, std::function<void()> done)
    {
        *opener = new OpeningThread(std::move(job), owner);
        QObject::connect(
            *opener, &QThread::finished, owner,
            [opener, done] {
                end(opener);
                done();
            },
            Qt::QueuedConnection);
        (*opener)->start();
    }
    // Waits for the thread and deletes it: finished() comes just before it
    // stops counting as running, and an owner's end may not wait for that.
    static void end(QThread **opener)
    {
        if (!*opener)
            return;
        (*opener)->wait();
        delete *opener;
        *opener = nullptr;
    }

private:
    OpeningThread(std::function<void()> job, QObject *parent) : QThread(parent), m_job(std::move(job)) {}
    void run() override { m_job(); }
    std::function<void()> m_job;
};
