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

    // Shows the client's usual notice (100 x 30, dark grey) with text.
    static void notice(const QString &text);

private:
    QLabel *label;
};

// Shows the web client's failures (TaviHttp's) as notices; the application
// installs this at its start.
void installFlashNotices();
