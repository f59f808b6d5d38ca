#include "ui/focusring.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QWidget>

namespace {
constexpr int kWidth = 2;

class Frame : public QWidget
{
public:
    explicit Frame(QWidget *window) : QWidget(window)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(QPen(QColor(0x6c, 0xb4, 0xff), kWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(kWidth / 2.0, kWidth / 2.0, -kWidth / 2.0, -kWidth / 2.0));
    }
};

QPointer<FocusRing> &theRing()
{
    static QPointer<FocusRing> ring;
    return ring;
}
} // namespace

FocusRing::FocusRing() : QObject(qApp) {}

void FocusRing::install()
{
    if (theRing() || !qApp)
        return;
    theRing() = new FocusRing;
    qApp->installEventFilter(theRing());
}

QWidget *FocusRing::target()
{
    return theRing() && theRing()->m_frame && theRing()->m_frame->isVisible() ? theRing()->m_target.data() : nullptr;
}

bool FocusRing::eventFilter(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType() || watched == m_frame)
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        const bool byKeyboard =
            reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
        follow(byKeyboard && !widget->isWindow() ? widget : nullptr);
        break;
    }
    case QEvent::FocusOut:
    case QEvent::Hide:
        if (widget == m_target)
            follow(nullptr);
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (widget == m_target)
            place();
        break;
    case QEvent::MouseButtonPress:
        if (m_target)
            follow(nullptr);
        break;
    default:
        break;
    }
    return false;
}

void FocusRing::follow(QWidget *target)
{
    m_target = target;
    if (!target) {
        if (m_frame)
            m_frame->hide();
        return;
    }
    if (!m_frame || m_frame->parentWidget() != target->window()) {
        delete m_frame;
        m_frame = new Frame(target->window());
    }
    place();
}

void FocusRing::place()
{
    if (!m_target || !m_frame)
        return;
    QWidget *window = m_frame->parentWidget();
    const QRect inWindow(m_target->mapTo(window, QPoint(0, 0)), m_target->size());
    m_frame->setGeometry(inWindow.adjusted(-kWidth, -kWidth, kWidth, kWidth).intersected(window->rect()));
    m_frame->show();
    m_frame->raise();
    m_frame->update();
}
