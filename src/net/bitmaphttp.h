#pragma once

#include "net/tavihttp.h"

#include <QPixmap>

// Fetches one picture: a web address (through TaviHttp) or a built-in
// ":/" resource. Whatever fails gives the built-in ":/images/sys/man".
class BitmapHttp : public TaviHttp
{
    Q_OBJECT
public:
    BitmapHttp(QString address, int port);
    BitmapHttp();

    void load(QString address);

signals:
    void signalBitmap(QPixmap &pixmap);

public slots:
    void requestFinished(QNetworkReply *reply) override;

private:
    void loadLocal();
    void sendFallback();

    QString path;
};
