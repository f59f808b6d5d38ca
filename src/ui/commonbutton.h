#pragma once

#include <QString>
#include <QToolButton>

// A tab of the title bar: slate, red under the mouse, and red for good once
// clicked until the owner unselects it.
class CommonButton : public QToolButton
{
    Q_OBJECT
public:
    explicit CommonButton(QString text, QWidget *parent = nullptr);

    int mouseState() const { return m_state; }
    bool isSelected() const { return m_selected; }
    // Selected state: red background that ignores the mouse.
    void setSelectedState();
    // Normal state: slate background that follows the mouse again.
    void setNormalState();
    // Drops the selected mark only; the background follows the mouse again.
    void clearSelected();
    // The background colour the next repaint fills with.
    QColor backgroundColor() const;

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setMouseState(int state);
    void applyStateColour();

    int m_state = 0;
    bool m_selected = false;
};
