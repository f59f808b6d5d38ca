#pragma once

#include "ui/mousestate.h"

#include <QPushButton>
#include <QString>

// A flat picture button whose translucent white background lightens under
// the mouse. It reacts on press, not on release.
class pixButton : public MouseStateWidget<QPushButton>
{
    Q_OBJECT
public:
    explicit pixButton(QString picture, QWidget *parent = nullptr);

protected:
    void mouseStateChanged() override;
    void mousePressEvent(QMouseEvent *event) override;
};
