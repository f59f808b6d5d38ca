#include "chat/chatstyle.h"

QString chatScrollBarStyle()
{
    return QStringLiteral("QScrollBar:vertical{width:8px;background:transparent;padding-top:9px;padding-bottom:9px;}"
                          "QScrollBar::handle:vertical{background:rgba(0,0,0,64);border-radius:4px;min-height:20px;}"
                          "QScrollBar::handle:vertical:hover{background:rgba(0,0,0,128);}"
                          "QScrollBar::sub-line:vertical{height:9px;width:8px;subcontrol-position:top;"
                          "border-image:url(:/images/sys/scroTop);}"
                          "QScrollBar::add-line:vertical{height:9px;width:8px;subcontrol-position:bottom;"
                          "border-image:url(:/images/sys/scroBottom);}"
                          "QScrollBar::sub-line:vertical:hover{border-image:url(:/images/sys/scroTop_hove);}"
                          "QScrollBar::add-line:vertical:hover{border-image:url(:/images/sys/scroBottom_hove);}"
                          "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:rgba(0,0,0,26);"
                          "border-radius:4px;}");
}
