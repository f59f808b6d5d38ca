#include "chat/auditionlistwidget.h"

#include "chat/chatstyle.h"

#include <QScrollBar>

AuditionListWidget::AuditionListWidget(QWidget *parent) : QListWidget(parent)
{
    setStyleSheet(QStringLiteral("border:none; color:#0055ff"));
    verticalScrollBar()->setStyleSheet(chatScrollBarStyle());
    setAccessibleName(tr("试听列表"));
}
