#include "ui/tempheader.h"

#include "ui/iconbtn.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>

tempHeader::tempHeader(QWidget *movedWindow, QWidget *parent) : QWidget(parent), movedWindow(movedWindow)
{
    setFixedHeight(45);
    setContentsMargins(0, 0, 0, 0);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet("QWidget{background-color:rgb(48,62,84)}");

    titleLabel = new QLabel(this);
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setStyleSheet("QLabel{color:rgb(245,246,247);font-size:12px;padding:4px 0 0 8px;}");
    auto *closeBtn = new IconBtn(":/images/sys/close", true, this);
    closeBtn->setObjectName("closeBtn");

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(titleLabel, 1, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(closeBtn, 0, Qt::AlignRight | Qt::AlignTop);

    connect(closeBtn, SIGNAL(clicked()), this, SIGNAL(s_close()));
}

void tempHeader::setTitle(QString title)
{
    titleLabel->setText(title);
}

QString tempHeader::title() const
{
    return titleLabel->text();
}

void tempHeader::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragging = true;
        dragOffset = event->globalPos() - movedWindow->frameGeometry().topLeft();
    }
    event->accept();
}

void tempHeader::mouseMoveEvent(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && dragging)
        emit s_move(event->globalPos() - dragOffset);
    event->accept();
}

void tempHeader::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    event->accept();
}
