#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <atomic>
#include <deque>

class VideoPlayer_Thread;
struct VideoState;

// Plays a class on the better of its two renditions that the link carries:
// the full one, or a low-rate one a school may offer beside it. It goes down
// when the playing rendition fell behind its live edge twice within 30 s, or
// arrives slower than it plays (its receive rate stays below its bit rate);
// it goes back up once a probe of the full rendition has kept pace for 10 s.
// A switch never leaves a gap: the other rendition opens on the second
// player, muted and unseen, and takes over with its first picture, once its
// sound runs. A low rendition that gives no picture is left alone for a
// while; the class goes on where it is, with nothing shown to the user.
// Lives on the GUI thread; shows() is for the players' video threads.
class RenditionSwitch : public QObject
{
    Q_OBJECT
public:
    enum Reason {
        NoReason,
        FellBehind, // twice within kBehindWindow
        SlowLink // the stream arrives slower than it plays
    };
    static constexpr double kBehindWindow = 30.0;
    static constexpr double kProbeKeepsPace = 10.0;
    static constexpr double kFirstProbeAfter = 5.0;
    static constexpr double kProbeEvery = 8.0;
    // After this many failed probes in a row, a link that stays weak is
    // probed less often.
    static constexpr int kProbesBeforeRest = 10;
    static constexpr double kRestedProbeEvery = 30.0;
    // A rendition that gives no picture this long, or no data at all for
    // kDataWithin (a stream nobody publishes), is given up.
    static constexpr double kOpenWithin = 8.0;
    static constexpr double kDataWithin = 3.0;
    static constexpr double kLowRetryAfter = 60.0;

    // Both players are the caller's; they must be stopped and outlive this.
    RenditionSwitch(VideoPlayer_Thread *first, VideoPlayer_Thread *second, QObject *parent = nullptr);

    // Plays full; with a low address the switching is on.
    void start(const QString &full, const QString &low);
    // Stops both players (see PlayerThread::stop); a later start is not paused.
    void stop(bool wait);
    // A paused class neither probes nor switches.
    void pause();
    void resume();
    // 0 to 100, for the rendition heard; the other stays silent.
    void setVolume(int percent);

    VideoPlayer_Thread *current() const { return m_players[m_current]; }
    VideoPlayer_Thread *spare() const { return m_players[1 - m_current]; }
    // Whether player's pictures are the ones to show; from any thread.
    bool shows(const QObject *player) const { return m_shown.load() == player; }
    bool onLow() const { return m_onLow; }
    // Why the low rendition plays (NoReason on the full one).
    Reason reason() const { return m_reason; }

signals:
    // The other rendition took over: current() and onLow() changed.
    void switched();

private:
    enum class Spare {
        None,
        GoingDown, // the low rendition, taking over with its first picture
        Probing // the full rendition, muted and unseen until it kept pace
    };
    struct Sample
    {
        double at;
        double pts;
    };

    void tick();
    void watchCurrent(double now);
    void watchProbe(double now);
    void startSpare(Spare role, double now);
    void dropSpare(const char *why);
    // From the spare's video thread.
    void spareShowed(VideoPlayer_Thread *player);
    void takeOver();
    void clearSamples();
    // The newest stream time the player's reader queued; 0 before any.
    static double newestPts(const VideoState &state);
    // Adds a sample; false when the stream's time went back (a new
    // timeline), which starts the samples afresh.
    static void addSample(std::deque<Sample> &samples, double now, double pts);
    // Arrives steadily but slower than it plays, and lags for it.
    static bool arrivesSlowly(const std::deque<Sample> &samples, double behindEdge);

    VideoPlayer_Thread *m_players[2];
    // Changed on the GUI thread, read by the players' video threads too.
    std::atomic<int> m_current{0};
    std::atomic<const QObject *> m_shown{nullptr};
    std::atomic<Spare> m_spare{Spare::None};
    std::atomic<bool> m_spareShowing{false};
    std::atomic<double> m_spareFirstPicture{0};
    QString m_full;
    QString m_low;
    bool m_started = false;
    bool m_paused = false;
    bool m_onLow = false;
    Reason m_reason = NoReason;
    Reason m_goingDownFor = NoReason;
    int m_volume = 100;
    QTimer m_tick;
    std::deque<Sample> m_samples;
    std::deque<Sample> m_spareSamples;
    QVector<double> m_fellBehindAt;
    int m_seenReopens = 0;
    int m_spareSeenReopens = 0;
    double m_spareLeastLag = 0;
    double m_spareStarted = 0;
    double m_nextProbe = 0;
    double m_lowAgain = 0;
    int m_failedProbes = 0;
};
