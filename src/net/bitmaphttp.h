#pragma once

#include "net/tavihttp.h"

#include <QPixmap>

// Fetches one picture: a web address or path of the web service (through
// TaviHttp, at most kMaxPictureBytes, decoded only when its size is sane)
// or a built-in ":/" resource. Any other address is not asked for, nor one
// that failed before; whatever fails gives the built-in ":/images/sys/man".
class BitmapHttp : public TaviHttp
{
    Q_OBJECT
public:
    BitmapHttp(QString address, int port);
    BitmapHttp();

    void load(QString address);
    // The picture is scaled to fit this while it is read (none: as it is).
    void setFit(const QSize &size) { fit = size; }

signals:
    void signalBitmap(QPixmap &pixmap);

public slots:
    void requestFinished(QNetworkReply *reply) override;

private:
    void loadLocal();
    void sendFallback();
    bool refused(const QString &address) const;

    QString path;
    QString requested;
    QSize fit;
};
