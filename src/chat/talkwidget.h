#pragma once

#include "chat/chatrecords.h"

#include <QWidget>

class AvatarLoader;
class QTextEdit;
class TalkContent;
class TextBtn;

// The discussion page: the transcript above an input box and "发 言".
// A line typed is shown only when the server hands it back. Enter sends,
// Shift+Enter starts a new line within it.
class TalkWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TalkWidget(QWidget *parent = nullptr);

    TalkContent *content() const { return talk; }
    QTextEdit *input() const { return edit; }
    TextBtn *sendButton() const { return sendBtn; }
    AvatarLoader *pictureLoader() const { return pictures; }

signals:
    void s_send(QString);

public slots:
    void slot_send();
    void slot_receiveMsg(data_chat_msg inf);
    // Whether lines can go out now; while not, "发 言" keeps the text.
    void setOnline(bool online);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TalkContent *talk;
    QTextEdit *edit;
    TextBtn *sendBtn;
    AvatarLoader *pictures;
    bool online = false;
};
