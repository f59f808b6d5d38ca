#pragma once

#include <QString>
#include <QToolButton>

// A picture button: the widget takes the picture's size and, when made with
// the hover flag, shows the picture's "_hover" twin under the mouse.
class IconBtn : public QToolButton
{
    Q_OBJECT
public:
    IconBtn(QString picture, bool hover, QWidget *parent = nullptr);

    QString picture() const { return m_picture; }
    // The picture the next repaint draws.
    QString shownPicture() const;
    int mouseState() const { return m_state; }

protected:
    void setPicture(const QString &picture);

    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setMouseState(int state);

    QString m_picture;
    bool m_hover;
    int m_state = 0;
};
