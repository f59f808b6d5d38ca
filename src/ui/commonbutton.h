#pragma once

#include "ui/mousestate.h"

#include <QString>
#include <QToolButton>

// A tab of the title bar: slate, red under the mouse, and red for good once
// clicked until the owner unselects it.
class CommonButton : public MouseStateWidget<QToolButton>
{
    Q_OBJECT
public:
    explicit CommonButton(QString text, QWidget *parent = nullptr);

    // Selected state: red background that ignores the mouse.
    void setSelectedState();
    // Normal state: slate background that follows the mouse again.
    void setNormalState();
    // Drops the selected mark only; the background follows the mouse again.
    void clearSelected();
    // The background colour the next repaint fills with.
    QColor backgroundColor() const;
    // What its text needs.
    QSize sizeHint() const override;

protected:
    void mouseStateChanged() override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void applyStateColour();
    static QFont tabFont();

    bool m_selected = false;
};
