#pragma once

#include <QPushButton>
#include <QString>

// A flat picture button whose translucent white background lightens under
// the mouse. It reacts on press, not on release.
class pixButton : public QPushButton
{
    Q_OBJECT
public:
    explicit pixButton(QString picture, QWidget *parent = nullptr);

    // Alpha of the white background: 0 normally, 120 hovered, 150 pressed.
    int backgroundAlpha() const;

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setBackgroundAlpha(int alpha);
};
