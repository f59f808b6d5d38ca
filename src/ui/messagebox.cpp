#include "ui/messagebox.h"

#include "ui/colorbtn.h"
#include "ui/iconbtn.h"
#include "ui/iconlabel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

MessageBox::MessageBox(QWidget *parent) : QDialog(parent)
{
    setWindowModality(Qt::ApplicationModal);
    // Qt::Dialog keeps the box a window of its own when it has a parent;
    // without it the frameless box would be painted inside that parent.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setAutoFillBackground(true);
    setFixedSize(430, 160);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(239, 245, 255));
    setPalette(pal);

    auto *header = new QWidget(this);
    header->setObjectName("header");
    header->setFixedHeight(24);
    header->setAttribute(Qt::WA_StyledBackground);
    header->setStyleSheet("QWidget#header{background-color:rgb(48,62,84)}");
    auto *closeBtn = new IconBtn(":/images/sys/dialog_close", true, header);
    closeBtn->setObjectName("closeBtn");
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 4, 0);
    headerLayout->addStretch();
    headerLayout->addWidget(closeBtn, 0, Qt::AlignVCenter);

    auto *icon = new IconLabel(this, ":/images/sys/dialog_question", 0, 0);
    textLabel = new QLabel(this);
    textLabel->setTextFormat(Qt::PlainText);
    textLabel->setText(tr("亲，您要进入此课堂吗?"));
    textLabel->setWordWrap(true);
    textLabel->setStyleSheet("QLabel{font:bold;font-size:13px;color:rgb(90,90,90)}");
    auto *body = new QHBoxLayout;
    body->setContentsMargins(30, 14, 30, 0);
    body->setSpacing(16);
    body->addWidget(icon, 0, Qt::AlignVCenter);
    body->addWidget(textLabel, 1);

    auto *okBtn = new ColorBtn(tr("确定"), 12, 72, 26, this);
    okBtn->setObjectName("okBtn");
    const QColor light(251, 251, 251);
    okBtn->setTextColors(light, light, light);
    okBtn->setBgColors(QColor(48, 62, 84), QColor(48, 162, 84), QColor(48, 62, 84));
    auto *cancelBtn = new ColorBtn(tr("取消"), 12, 72, 26, this);
    cancelBtn->setObjectName("cancelBtn");
    const QColor grey(199, 199, 199);
    cancelBtn->setBgColors(grey, grey, grey);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 16, 14);
    buttons->setSpacing(10);
    buttons->addStretch();
    buttons->addWidget(okBtn);
    buttons->addWidget(cancelBtn);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);

    // Return presses the focused button: the question starts on "确定".
    okBtn->setFocus();
    connect(closeBtn, SIGNAL(clicked()), this, SLOT(close()));
    connect(okBtn, &ColorBtn::clicked, this, &MessageBox::answerYes);
    connect(cancelBtn, SIGNAL(clicked()), this, SLOT(close()));
}

void MessageBox::answerYes()
{
    close();
    emit doAccept();
}

void MessageBox::keyPressEvent(QKeyEvent *event)
{
    // No button here is a QPushButton, so QDialog has no default to press.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            answerYes();
            return;
        }
    }
    // Escape rejects, which closes as "取消" does.
    QDialog::keyPressEvent(event);
}

void MessageBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    activateWindow();
}

void MessageBox::setText(QString text)
{
    textLabel->setText(text);
}

QString MessageBox::text() const
{
    return textLabel->text();
}
