#include "chat/talkwidget.h"

#include "chat/talkcontent.h"
#include "net/avatarloader.h"
#include "net/flash.h"
#include "net/userinfo.h"
#include "ui/textbtn.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTextEdit>
#include <QVBoxLayout>

TalkWidget::TalkWidget(QWidget *parent) : QWidget(parent)
{
    talk = new TalkContent(this);
    edit = new QTextEdit(this);
    edit->setFixedHeight(88);
    edit->setStyleSheet(QStringLiteral("border:1px solid rgb(230,230,230)"));
    edit->installEventFilter(this);
    edit->setAccessibleName(tr("聊天输入"));
    // Enter sends; Tab moves on, as in a one-line input.
    edit->setTabChangesFocus(true);
    talk->setAccessibleName(tr("聊天记录"));
    sendBtn = new TextBtn(tr("发 言"), QString(), 12, 10, 50, 20, this);
    sendBtn->setBorder(false);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 10, 10, 0);
    row->addStretch();
    row->addWidget(sendBtn);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(talk);
    layout->addWidget(edit);
    layout->addLayout(row);

    connect(sendBtn, SIGNAL(clicked()), this, SLOT(slot_send()));
    pictures = new AvatarLoader(this);
    connect(pictures, &AvatarLoader::picture, talk, &TalkContent::setPicture);
}

void TalkWidget::setOnline(bool on)
{
    online = on;
}

bool TalkWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != edit || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    if (key->modifiers() & Qt::ShiftModifier)
        edit->insertPlainText(QStringLiteral("\n"));
    else
        slot_send();
    return true;
}

void TalkWidget::slot_send()
{
    QString text = edit->toPlainText();
    // A line of blanks says nothing; what ends a line is not part of it.
    if (text.trimmed().isEmpty())
        return;
    while (text.back().isSpace())
        text.chop(1);
    if (!online) {
        // Nothing would go out: keep the text for a later try.
        Flash::notice(tr("聊天未连接"));
        return;
    }
    edit->clear();
    // The user's own picture is in the cache when the line comes back.
    const UserInfo &user = UserInfo::instance();
    if (!user.userId.isEmpty())
        pictures->request(user.photo, user.userId);
    emit s_send(text);
}

void TalkWidget::slot_receiveMsg(data_chat_msg inf)
{
    if (inf.user_id.isEmpty())
        return;
    if (inf.time.size() >= 8)
        inf.time = inf.time.right(8);
    // In order of arrival, at once; the sender's picture follows.
    talk->appendLine(inf);
    pictures->request(inf.photo, inf.user_id);
}
