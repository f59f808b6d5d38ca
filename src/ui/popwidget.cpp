#include "ui/popwidget.h"

#include "ui/pixbutton.h"
#include "ui/tempheader.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

popWidget::popWidget(QWidget *parent) : QWidget(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // Notices come while the main window may sit in the tray: closing the
    // last one shown must not end the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    header = new tempHeader(this, this);
    header->setFixedHeight(25);
    connect(header, SIGNAL(s_close()), this, SLOT(close()));
    connect(header, &tempHeader::s_move, this, [this](QPoint p) { move(p); });

    // Notices carry the school's titles: plain text, never markup.
    contentLabel = new QLabel(this);
    contentLabel->setObjectName("contentLabel");
    contentLabel->setTextFormat(Qt::PlainText);
    contentLabel->setWordWrap(true);
    contentLabel->setFixedSize(200, 70);
    contentLabel->setMargin(5);

    lookBtn = new pixButton(":/images/sys/look", this);
    lookBtn->setObjectName("lookBtn");
    connect(lookBtn, SIGNAL(clicked()), this, SLOT(openWeb()));

    auto *buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(0, 0, 8, 8);
    buttonRow->addStretch();
    buttonRow->addWidget(lookBtn);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(contentLabel);
    layout->addLayout(buttonRow);
    setFixedSize(layout->sizeHint());

    moveTimer = new QTimer(this);
    moveTimer->setObjectName("moveTimer");
    stayTimer = new QTimer(this);
    stayTimer->setObjectName("stayTimer");
    closeTimer = new QTimer(this);
    closeTimer->setObjectName("closeTimer");
    connect(moveTimer, SIGNAL(timeout()), this, SLOT(myMove()));
    connect(stayTimer, SIGNAL(timeout()), this, SLOT(myStay()));
    connect(closeTimer, SIGNAL(timeout()), this, SLOT(myClose()));
}

void popWidget::setMsg(QString title, QString content, QString url)
{
    header->setTitle(title);
    contentLabel->setText("   " + content);
    this->url = url;
    // Nothing to look at without an address.
    lookBtn->setVisible(!url.isEmpty());
}

QString popWidget::title() const
{
    return header->title();
}

QString popWidget::content() const
{
    return contentLabel->text();
}

void popWidget::showPop()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    showPopOn(screen->availableGeometry(), screen->virtualGeometry().height());
}

void popWidget::showPopOn(QRect availableArea, int screenHeight)
{
    available = availableArea;
    left = available.width() - width();
    targetY = available.height() - height();
    move(left, 767);
    show();
    moveTimer->start(5);
    top = screenHeight;
    stayTicks = 0;
    opacity = 1.0;
}

void popWidget::myMove()
{
    --top;
    move(left, top);
    if (top <= targetY) {
        moveTimer->stop();
        stayTimer->start(1000);
    }
}

void popWidget::myStay()
{
    ++stayTicks;
    if (stayTicks == 9) {
        stayTimer->stop();
        closeTimer->start(200);
    }
}

void popWidget::myClose()
{
    // Counted in whole tenths so ten steps reach exactly zero.
    opacity = std::round((opacity - 0.1) * 10.0) / 10.0;
    if (opacity > 0) {
        setWindowOpacity(opacity);
    } else {
        closeTimer->stop();
        close();
    }
}

void popWidget::openWeb()
{
    QDesktopServices::openUrl(QUrl(url));
}

void popWidget::closeEvent(QCloseEvent *event)
{
    // Closed in any phase: nothing may move or fade it until it is deleted.
    moveTimer->stop();
    stayTimer->stop();
    closeTimer->stop();
    QWidget::closeEvent(event);
}

void popWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(250, 240, 230));
    painter.setPen(QPen(QColor(255, 222, 173), 4));
    painter.drawRoundedRect(rect(), 5, 5);
}
