#include "ui/tempheader.h"

#include "ui/iconbtn.h"
#include "ui/windowdrag.h"

#include <QHBoxLayout>
#include <QLabel>

tempHeader::tempHeader(QWidget *movedWindow, QWidget *parent) : QWidget(parent)
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
    connect(new WindowDrag(this, movedWindow), &WindowDrag::moved, this, &tempHeader::s_move);
}

void tempHeader::setTitle(QString title)
{
    titleLabel->setText(title);
}

QString tempHeader::title() const
{
    return titleLabel->text();
}
