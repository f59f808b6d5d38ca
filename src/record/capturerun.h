#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// The flag a capture loop runs on. Stopping also ends, at once, the pause
// the loop takes before it tries a failing device again.
class CaptureRun
{
public:
    void start() { m_running = true; }
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_running = false;
        }
        m_cond.notify_all();
    }
    bool running() const { return m_running; }

    // Waits ms before the next attempt at the device, less when the loop is
    // stopped meanwhile.
    void pauseBeforeRetry(int ms)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool wasRunning = m_running;
        m_cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return wasRunning && !m_running; });
    }

    // Waits ms to pace the loop, less when it is stopped meanwhile.
    void pace(int ms) { pauseBeforeRetry(ms); }

private:
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;
    std::condition_variable m_cond;
};
