#include "net/flash.h"

#include "net/tavihttp.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>

namespace {
constexpr int kTextMargin = 12;
}

Flash::Flash(QString text, int width, int height, QString backgroundRgb, QString textRgb, QString fontSize,
             QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
    // A notice closing while the main window sits in the tray must not end
    // the program, and nothing keeps a faded notice.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(true);
    setContentsMargins(0, 0, 0, 0);
    setFixedWidth(width);
    setFixedHeight(height);
    setStyleSheet(QStringLiteral("background-color:rgb(%1);color:rgb(%2);font-size:%3;border-radius:5px;")
                      .arg(backgroundRgb, textRgb, fontSize));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setStyleSheet(QStringLiteral("color:rgb(255,255,255);font-size:12px;"));
    layout->addStretch();
    layout->addWidget(label);
    layout->addStretch();
    // A longer text widens the notice rather than being cut off.
    label->ensurePolished();
    const int needed = label->sizeHint().width() + 2 * kTextMargin;
    if (needed > width)
        setFixedWidth(needed);

    auto *fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(3800);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    fade->setEasingCurve(QEasingCurve::OutBack);
    connect(fade, &QPropertyAnimation::finished, this, &QWidget::close);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void Flash::notice(const QString &text)
{
    auto *flash = new Flash(text, 100, 30, QStringLiteral("90,90,90"), QStringLiteral("255,255,255"),
                            QStringLiteral("120px"), nullptr);
    flash->show();
}

QString Flash::text() const
{
    return label->text();
}

void installFlashNotices()
{
    TaviHttp::setFailureHandler(&Flash::notice);
}
