#pragma once

#include "nginxrtmp.h"
#include "peerprocess.h"

#include <QPair>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <vector>

namespace testsupport {

// An impaired network of the test's own (tests/support/netlab.sh): nginx-rtmp in a server namespace, reached by a
// pupil and a teacher from namespaces of their own, each through a relay that can delay with jitter. Needs root; the
// namespaces go when this object goes, or with the process.
class NetLab
{
public:
    ~NetLab();
    // Empty when the lab is up, else why it cannot be (not root, no namespaces).
    QString start(int pupilDelayMs = 0, int pupilJitterMs = 0);
    // "cap pupil 1mbit", "cut teacher", ... (see netlab.sh); true when done.
    bool command(const QString &line);
    QString pupilUrl(const QString &stream) const;
    QString teacherUrl(const QString &stream) const;
    // Starts a program in the pupil's or teacher's namespace.
    void startIn(QProcess &process, bool pupil, const QString &program, const QStringList &args) const;
    // The same with a process of the lab's, stopped with it.
    QProcess &launch(bool pupil, const QString &program, const QStringList &args);
    NginxRtmp &server() { return m_nginx; }
    // ffmpeg's arguments publishing a 1280x720 test picture (1 Mbit/s and a key frame every 50 pictures unless
    // said) and a tone to url.
    static QStringList classArgs(const QString &url, int videoKbps = 1000, int keyEvery = 50);
    QString serverNamespace() const { return m_names.value(0); }

private:
    QProcess m_lab;
    QStringList m_names; // server, pupil, teacher
    NginxRtmp m_nginx;
    PeerProcess m_relays[2];
    std::vector<std::unique_ptr<PeerProcess>> m_launched;
};

// tavi-play --trace playing a url in the pupil's namespace: each picture as it leaves the player. With a low
// rendition it switches to it and back as the client does.
class PupilPlayer
{
public:
    PupilPlayer(NetLab &lab, const QString &url,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(), const QString &low = {});
    ~PupilPlayer() { m_process.stop(); }
    // (wall clock seconds, stream seconds) of each picture so far.
    QVector<QPair<double, double>> pictures;
    // (wall clock seconds, on the low rendition) of each switch so far.
    QVector<QPair<double, bool>> switches;
    // The least (wall - stream time) of the pictures so far: the edge at its nearest.
    double edge() const;
    // How far the last picture is behind that edge, in seconds; NaN before any.
    double behind(double edge) const;
    qint64 processId() const { return m_process.processId(); }

private:
    PeerProcess m_process;
};

} // namespace testsupport
