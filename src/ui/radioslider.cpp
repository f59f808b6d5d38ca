#include "ui/radioslider.h"

RadioSlider::RadioSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setRange(0, 100);
    setStyleSheet("QSlider::groove:horizontal {border: 1px solid #999999; height: 2px; border-radius: 1px; }"
                  " QSlider::handle:horizontal {border-image:url(:images/sys/volumn);margin: -3px -2px -3px "
                  "-2px;width:6px;height:8px;}"
                  "QSlider::sub-page:horizontal{ background-color: rgb(252, 171, 12)}"
                  "QSlider::add-page:horizontal{background-color: rgb(99,99,99)}");
}
