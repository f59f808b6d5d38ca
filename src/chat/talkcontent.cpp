#include "chat/talkcontent.h"

#include "chat/chatstyle.h"

#include <QFileInfo>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// Laying out a long run without a break takes time growing with the
// square of its length: a hostile line must not hold up the view.
QString shortened(const QString &text, int limit)
{
    return text.size() <= limit ? text : text.left(limit) + QChar(0x2026);
}

// Line breaks stay inside the line's paragraph.
QString oneParagraph(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    text.replace(QChar::ParagraphSeparator, QChar::LineSeparator);
    return text;
}

QTextBlockFormat paragraph()
{
    QTextBlockFormat format;
    format.setTopMargin(0);
    format.setBottomMargin(0);
    format.setLeftMargin(0);
    format.setRightMargin(0);
    format.setIndent(0);
    format.setTextIndent(0);
    return format;
}

QTextCharFormat textFormat(double points, const char *colour)
{
    QTextCharFormat format;
    format.setFontPointSize(points);
    format.setForeground(QColor(QLatin1String(colour)));
    return format;
}

} // namespace

TalkContent::TalkContent(QWidget *parent) : QWidget(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet(QStringLiteral("border:none"));
    text = new QTextBrowser(this);
    text->setOpenLinks(false);
    text->verticalScrollBar()->setStyleSheet(chatScrollBarStyle());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text);
}

QString TalkContent::pictureUrl(const QString &path)
{
    if (path.startsWith(QLatin1String(":/")))
        return QStringLiteral("qrc") + path;
    // The cache's file names may hold "%": make them a proper file address.
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

void TalkContent::appendLine(data_chat_msg inf)
{
    QScrollBar *bar = text->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextDocument *doc = text->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    // The picture, then the name and time raised beside it in blue.
    if (shown == 0 && doc->isEmpty())
        cursor.setBlockFormat(paragraph());
    else
        cursor.insertBlock(paragraph(), QTextCharFormat());
    QTextImageFormat picture;
    picture.setName(pictureUrl(inf.photo));
    picture.setWidth(20);
    picture.setHeight(20);
    cursor.insertImage(picture);
    QTextCharFormat head = textFormat(14, "#0055ff");
    head.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    cursor.insertText(oneParagraph(shortened(inf.nick_name, kMaxNameChars)) + QLatin1Char(' ') +
                          oneParagraph(shortened(inf.time, kMaxNameChars)),
                      head);
    // The text below in green, exactly as typed.
    cursor.insertBlock(paragraph(), QTextCharFormat());
    cursor.insertText(oneParagraph(shortened(inf.info, kMaxTextChars)), textFormat(11, "#55aa7f"));
    cursor.endEditBlock();
    ++appended;
    ++shown;
    if (shown > kMaxLines + kTrimLines)
        dropOldest(shown - kMaxLines);
    if (atBottom)
        bar->setValue(bar->maximum());
}

void TalkContent::dropOldest(int count)
{
    // Each line is two paragraphs. Many at once: every removal at the top
    // costs a layout pass.
    QTextCursor cursor(text->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, 2 * count);
    cursor.removeSelectedText();
    shown -= count;
}
