#pragma once

#include "chat/chatrecords.h"

#include <QWidget>

class QTextBrowser;

// The class chat's transcript: each line shows the sender's picture, name
// and time above the text. Keeps the most recent lines only.
class TalkContent : public QWidget
{
    Q_OBJECT
public:
    static const int kMaxLines = 2000;
    // Longer texts are cut and end in "…".
    static const int kMaxTextChars = 2000;
    static const int kMaxNameChars = 200;

    explicit TalkContent(QWidget *parent = nullptr);

    void appendLine(data_chat_msg inf);

    QTextBrowser *browser() const { return text; }
    // Lines appended since creation (also those dropped off the top).
    int appendedLines() const { return appended; }

    // The HTML of one line; every value is escaped.
    static QString lineHtml(const data_chat_msg &inf);
    // The address under which the transcript loads a picture path.
    static QString pictureUrl(const QString &path);

private:
    QTextBrowser *text;
    int appended = 0;
};
