#pragma once

#include <QSlider>

// The classroom's volume slider: thin groove, orange played part, a small
// handle picture.
class RadioSlider : public QSlider
{
    Q_OBJECT
public:
    explicit RadioSlider(QWidget *parent = nullptr);
};
