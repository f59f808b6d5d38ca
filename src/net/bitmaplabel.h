#pragma once

#include <QLabel>
#include <QPixmap>

class BitmapHttp;

// Shows a remote (or built-in) picture, scaled to width x height when both
// are given, else at its own size.
class BitmapLabel : public QLabel
{
    Q_OBJECT
public:
    BitmapLabel(QString address, int width, int height, QWidget *parent = nullptr);

    // Fetches address anew; the picture replaces the current one on arrival.
    void setBitmap(QString address);
    QPixmap currentPixmap() const { return pixmap; }

public slots:
    void doBitmap(QPixmap &pixmap);
    void doBitmapBySet(QPixmap &pixmap);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int width;
    int height;
    QPixmap pixmap;
    BitmapHttp *http;
};
