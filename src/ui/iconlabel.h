#pragma once

#include <QLabel>
#include <QString>

// A label that paints one picture: stretched to width x height when both are
// given, otherwise at the picture's own size.
class IconLabel : public QLabel
{
    Q_OBJECT
public:
    IconLabel(QString picture, int width, int height);
    IconLabel(QWidget *parent, QString picture, int width, int height);

    QString picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSize targetSize(const QSize &own) const;

    QString m_picture;
    int m_width;
    int m_height;
};
