#pragma once

#include "chat/chatrecords.h"

#include <QHash>
#include <QImage>
#include <QMap>
#include <QWidget>

class QLabel;
class QTextBrowser;

// The class chat's transcript: each line shows the sender's picture, name
// and time above the text. Values are put in as text, never read as
// markup. Keeps the most recent lines only. At the bottom it follows new
// lines; scrolled up, it stays and shows "有新消息" until the reader is back.
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

    // Appends a line of inf's sender (user_id), whose picture is a
    // placeholder until setPicture() brings it.
    void appendLine(data_chat_msg inf);
    // Shows this picture in every line of sender key.
    void setPicture(const QString &key, const QImage &picture);
    // Empties the transcript (another class begins).
    void clear();
    void scrollToBottom();

    QTextBrowser *browser() const { return text; }
    QLabel *newLinesMark() const { return mark; }
    // Lines appended since creation (also those dropped off the top).
    int appendedLines() const { return appended; }
    // Lines in the transcript now.
    int lines() const { return shown; }

    // The name under which the transcript holds a sender's picture.
    static QString pictureName(const QString &key);
    // The picture shown now for a sender (null when none is held).
    QImage picture(const QString &key) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeMark();
    void dropOldest(int count);
    // Keeps key's picture as a resource of the transcript; pictures of
    // senders whose lines have all left the transcript are let go.
    void usePicture(const QString &key);

    QTextBrowser *text;
    QLabel *mark;
    bool following = true; // the view is at the bottom
    int appended = 0;
    int shown = 0;
    // Senders by their last line (appended count), and back.
    QMap<int, QString> sendersByLine;
    QHash<QString, int> lastLine;
};
