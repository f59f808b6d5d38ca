#include "app/statuswidget.h"

StatusWidget::StatusWidget(QWidget *parent) : QWidget(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setAutoFillBackground(true);
    setFixedHeight(38);
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, QColor(QStringLiteral("#0d111a")));
    setPalette(pal);
}
