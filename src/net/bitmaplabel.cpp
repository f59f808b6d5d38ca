#include "net/bitmaplabel.h"

#include "net/bitmaphttp.h"

#include <QPainter>

BitmapLabel::BitmapLabel(QString address, int width, int height, QWidget *parent)
    : QLabel(parent), width(width), height(height), http(nullptr)
{
    if (width != 0 && height != 0)
        setFixedSize(width, height);
    http = new BitmapHttp();
    http->setFit(QSize(width, height));
    connect(http, &BitmapHttp::signalBitmap, this, &BitmapLabel::doBitmap);
    // Loaded after connecting: a local picture arrives at once.
    if (!address.isEmpty())
        http->load(address);
}

void BitmapLabel::setBitmap(QString address)
{
    auto *request = new BitmapHttp();
    request->setFit(QSize(width, height));
    connect(request, &BitmapHttp::signalBitmap, this, &BitmapLabel::doBitmapBySet);
    request->load(address);
}

void BitmapLabel::doBitmap(QPixmap &pixmap)
{
    this->pixmap = pixmap;
    if (width == 0 || height == 0)
        setFixedSize(pixmap.size());
    update();
}

void BitmapLabel::doBitmapBySet(QPixmap &pixmap)
{
    doBitmap(pixmap);
    // The sender is still inside its own reply handling: delete it later.
    if (auto *request = qobject_cast<BitmapHttp *>(sender()))
        request->deleteLater();
}

void BitmapLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (width != 0 && height != 0)
        painter.drawPixmap(QRect(0, 0, width, height), pixmap);
    else
        painter.drawPixmap(0, 0, pixmap);
}
