#pragma once

#include <QPainter>
#include <QTimer>
#include <QWidget>

// Something moving on the test display, so the grabbed desktop changes.
class MovingDesktop : public QWidget
{
public:
    MovingDesktop()
    {
        setGeometry(0, 0, 640, 480);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            ++m_step;
            update();
        });
        m_timer.start(30);
        show();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor::fromHsv(m_step * 3 % 360, 120, 200));
        painter.setBrush(Qt::black);
        painter.drawEllipse((m_step * 7) % 600, (m_step * 5) % 440, 40, 40);
    }

    QTimer m_timer;
    int m_step = 0;
};
