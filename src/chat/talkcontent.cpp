#include "chat/talkcontent.h"

#include "chat/chatstyle.h"

#include <QFileInfo>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char *const kParagraph = "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; "
                               "margin-right:0px; -qt-block-indent:0; text-indent:0px;\">";

// Laying out a long run without a break takes time growing with the
// square of its length: a hostile line must not hold up the view.
QString shortened(const QString &text, int limit)
{
    return text.size() <= limit ? text : text.left(limit) + QChar(0x2026);
}

QString escapedText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text = text.toHtmlEscaped();
    text.replace(QLatin1Char('\n'), QLatin1String("<br />"));
    return text;
}
} // namespace

TalkContent::TalkContent(QWidget *parent) : QWidget(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet(QStringLiteral("border:none"));
    text = new QTextBrowser(this);
    text->setOpenLinks(false);
    text->verticalScrollBar()->setStyleSheet(chatScrollBarStyle());
    // Each line is two paragraphs.
    text->document()->setMaximumBlockCount(2 * kMaxLines);
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

QString TalkContent::lineHtml(const data_chat_msg &inf)
{
    // One substitution pass: a value holding "%2" stays as it is.
    const QString tmpl = QString::fromUtf8(kParagraph)
        + QStringLiteral("<img src=\"%1\" width=\"20\" height=\"20\" />"
                         "<span style=\" font-size:14pt; color:#0055ff; vertical-align:super;\">%2 %3</span></p>")
        + QString::fromUtf8(kParagraph)
        + QStringLiteral("<span style=\" font-size:11pt;\"> </span>"
                         "<span style=\" font-size:11pt; color:#55aa7f; white-space:pre-wrap;\">%4</span></p>");
    return tmpl.arg(pictureUrl(inf.photo).toHtmlEscaped(), shortened(inf.nick_name, kMaxNameChars).toHtmlEscaped(),
                    shortened(inf.time, kMaxNameChars).toHtmlEscaped(),
                    escapedText(shortened(inf.info, kMaxTextChars)));
}

void TalkContent::appendLine(data_chat_msg inf)
{
    text->append(lineHtml(inf));
    ++appended;
}
