#pragma once

#include <QHash>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QThreadPool>

class QNetworkAccessManager;
class QNetworkReply;

// Participants' pictures through the picture cache ("./pic"), without
// waiting: many are fetched at once over kept connections, each arrives
// as a 20 x 20 pixmap, and writing the cache files is left to a thread of
// its own. A picture that cannot be had in time comes as the built-in one
// and is not cached.
class AvatarLoader : public QObject
{
    Q_OBJECT
public:
    explicit AvatarLoader(QObject *parent = nullptr);
    ~AvatarLoader() override;

    // Asks for key's picture at address; picture() follows, at once when
    // it is cached. A key already on its way is asked for only once.
    void request(const QString &address, const QString &key);
    int pending() const { return int(inFlight.size()); }

signals:
    void picture(QString key, QPixmap pixmap);

private:
    void finished(QNetworkReply *reply, const QString &key);

    QNetworkAccessManager *manager;
    QHash<QString, QNetworkReply *> inFlight;
    QThreadPool writer;
};
