#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <type_traits>

// What the mouse last did to a painted widget: its event handlers set it,
// its painting reads it.
enum MouseState {
    MouseNormal = 0, // as made
    MouseHover = 1, // entered
    MousePressed = 2,
    MouseLeft = 3,
    MouseReleased = 4
};

// A painted widget on a Qt button or label (Base) that keeps its mouse state.
// Each handler lets Base do its part first, so clicked() and the other Qt
// signals keep working, then sets the state and repaints. A widget may keep
// its state still (followsMouse off: a picture button without a hover
// picture), or hold a press for good (locksOnPress: a selected tab).
template<class Base> class MouseStateWidget : public Base
{
public:
    using Base::Base;

    int mouseState() const { return m_state; }
    // Which of a normal / hover / pressed triple of looks the painting uses.
    int colourSet() const { return m_state == MouseHover || m_state == MousePressed ? m_state : 0; }

protected:
    void setFollowsMouse(bool on) { m_follows = on; }
    void setLocksOnPress(bool on) { m_locksOnPress = on; }

    // The state as the mouse sets it: nothing changes while locked or not
    // following the mouse.
    void setMouseState(int state)
    {
        if (m_follows && !m_locked)
            showMouseState(state);
    }
    // The state whatever the mouse did (a tab that its owner selects).
    void showMouseState(int state)
    {
        m_state = state;
        mouseStateChanged();
        this->update();
    }
    void press()
    {
        if (m_locksOnPress) {
            m_locked = true;
            showMouseState(MousePressed);
        } else {
            setMouseState(MousePressed);
        }
    }
    // After each change of the state, before the repaint.
    virtual void mouseStateChanged() {}

    void enterEvent(QEvent *event) override
    {
        Base::enterEvent(event);
        setMouseState(MouseHover);
    }
    void leaveEvent(QEvent *event) override
    {
        Base::leaveEvent(event);
        setMouseState(MouseLeft);
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        Base::mousePressEvent(event);
        press();
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        Base::mouseReleaseEvent(event);
        setMouseState(MouseReleased);
    }
    // Enter presses a focused button as Space does.
    void keyPressEvent(QKeyEvent *event) override
    {
        if constexpr (std::is_base_of_v<QAbstractButton, Base>) {
            if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && this->isEnabled()) {
                this->animateClick();
                return;
            }
        }
        Base::keyPressEvent(event);
    }

private:
    int m_state = MouseNormal;
    bool m_follows = true;
    bool m_locksOnPress = false;
    bool m_locked = false;
};
