#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QQueue>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>

class QNetworkAccessManager;
class QNetworkReply;

// Users' pictures through the picture cache ("./pic"), without ever
// waiting: each arrives as a 20 x 20 picture by picture(), at once when it
// is cached or cannot be fetched, else when its download ends. Only http(s)
// addresses are fetched (built-in ":/" pictures are read from the program),
// a few at a time, each within kTimeoutMs and kMaxPictureBytes; an address
// that failed comes as the built-in picture for the rest of the run, and is
// not cached. Cache files are written by a thread of their own.
class AvatarLoader : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 3000;
    static constexpr int kSide = 20;
    // Downloads at the same time; more wait their turn.
    static constexpr int kMaxRunning = 6;

    explicit AvatarLoader(QObject *parent = nullptr);
    ~AvatarLoader() override;

    // Asks for key's picture at address; picture() follows. A key already
    // on its way is asked for only once, and so is an address.
    void request(const QString &address, const QString &key);
    // Keys still waiting for their picture.
    int pending() const;
    void setTimeout(int ms) { timeoutMs = ms; }

signals:
    void picture(QString key, QImage image);

private:
    void startNext();
    void finished(QNetworkReply *reply, const QString &address);
    void deliver(const QString &address, const QImage &image, bool fetched);

    QNetworkAccessManager *manager;
    // Address -> the keys that wait for it.
    QHash<QString, QStringList> waiting;
    QSet<QString> waitingKeys;
    QQueue<QString> queued;
    QHash<QString, QNetworkReply *> running;
    QThreadPool writer;
    int timeoutMs = kTimeoutMs;
};
