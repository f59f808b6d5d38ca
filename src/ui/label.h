#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

// A text that works as a link: underlined in its hover colour under the
// mouse when clickable, and s_clicked() on every release.
class Label : public QLabel
{
    Q_OBJECT
public:
    Label(QString text, QColor colour, bool clickable, QWidget *parent = nullptr);

    void setHoverColor(QColor colour);
    void setText(QString text);

    int mouseState() const { return m_state; }
    // The pen colour and underline the next repaint uses.
    QColor shownColor() const;
    bool shownUnderlined() const;

signals:
    void s_clicked();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setMouseState(int state);

    QColor m_colour;
    QColor m_hoverColour;
    bool m_clickable;
    int m_state = 0;
};
