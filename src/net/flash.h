#pragma once

#include <QDialog>

class QLabel;

// A small notice that fades out by itself over 3.8 s and then closes.
class Flash : public QDialog
{
    Q_OBJECT
public:
    Flash(QString text, int width, int height, QString backgroundRgb, QString textRgb, QString fontSize,
          QWidget *parent = nullptr);

    QString text() const;

private:
    QLabel *label;
};
