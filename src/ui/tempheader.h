#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

class QLabel;

// Title strip of a frameless window: a title, a close button, and dragging
// that reports where the window it belongs to should go.
class tempHeader : public QWidget
{
    Q_OBJECT
public:
    explicit tempHeader(QWidget *movedWindow, QWidget *parent = nullptr);

    void setTitle(QString title);
    QString title() const;

signals:
    void s_close();
    void s_move(QPoint pMove);

private:
    QLabel *titleLabel;
};
