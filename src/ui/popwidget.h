#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

class QLabel;
class QTimer;
class pixButton;
class tempHeader;

// A notice that rises at the bottom right of the screen, stays nine seconds,
// fades out and deletes itself. Its look button opens the notice's address.
class popWidget : public QWidget
{
    Q_OBJECT
public:
    explicit popWidget(QWidget *parent = nullptr);

    void setMsg(QString title, QString content, QString url);
    void showPop();
    // showPop() on a given available area and screen height.
    void showPopOn(QRect availableArea, int screenHeight);

    QString title() const;
    QString content() const;
    int targetTop() const { return targetY; }

public slots:
    void openWeb();
    void myMove();
    void myStay();
    void myClose();

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    tempHeader *header;
    QLabel *contentLabel;
    pixButton *lookBtn;
    QString url;
    QRect available;
    int left = 0; // x of the notice's left edge
    int targetY = 0;
    QTimer *moveTimer;
    QTimer *stayTimer;
    QTimer *closeTimer;
    int top = 0; // current top edge while sliding
    int stayTicks = 0;
    double opacity = 1.0;
};
