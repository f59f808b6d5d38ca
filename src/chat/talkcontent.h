#pragma once

#include "chat/chatrecords.h"

#include <QWidget>

class QTextBrowser;

// The class chat's transcript: each line shows the sender's picture, name
// and time above the text. Values are put in as text, never read as
// markup. Keeps the most recent lines only.
class TalkContent : public QWidget
{
    Q_OBJECT
public:
    // Lines kept; older ones go kTrimLines at a time, so the transcript
    // holds up to kMaxLines + kTrimLines lines.
    static const int kMaxLines = 2000;
    static const int kTrimLines = 200;
    // Longer texts are cut and end in "…".
    static const int kMaxTextChars = 2000;
    static const int kMaxNameChars = 200;

    explicit TalkContent(QWidget *parent = nullptr);

    void appendLine(data_chat_msg inf);

    QTextBrowser *browser() const { return text; }
    // Lines appended since creation (also those dropped off the top).
    int appendedLines() const { return appended; }
    // Lines in the transcript now.
    int lines() const { return shown; }

    // The address under which the transcript loads a picture path.
    static QString pictureUrl(const QString &path);

private:
    void dropOldest(int count);

    QTextBrowser *text;
    int appended = 0;
    int shown = 0;
};
