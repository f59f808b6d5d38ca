#pragma once

#include <QWidget>

// A small bar of segments that shows how loud a sound is: green, then
// yellow and red towards full scale.
class LevelMeter : public QWidget
{
    Q_OBJECT
public:
    explicit LevelMeter(QWidget *parent = nullptr);

    // 0 (silence) to 1 (full scale).
    void setLevel(float level);
    float level() const { return m_level; }
    QSize sizeHint() const override { return QSize(48, 10); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_level = 0;
};
