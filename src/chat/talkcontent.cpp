#include "chat/talkcontent.h"

#include "chat/chatstyle.h"

#include <QLabel>
#include <QMouseEvent>
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

    mark = new QLabel(tr("有新消息"), this);
    mark->setObjectName(QStringLiteral("newLinesMark"));
    mark->setCursor(Qt::PointingHandCursor);
    mark->setStyleSheet(QStringLiteral("QLabel{background-color:rgb(48,62,84);color:white;"
                                       "font-size:12px;padding:2px 8px;border-radius:9px}"));
    mark->adjustSize();
    mark->installEventFilter(this);
    mark->hide();
    // The range changes also on resizes: while the reader is at the bottom,
    // the view stays there.
    QScrollBar *bar = text->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        following = value >= bar->maximum();
        if (following)
            mark->hide();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (following)
            bar->setValue(maximum);
    });
}

bool TalkContent::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == mark && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        scrollToBottom();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TalkContent::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeMark();
}

void TalkContent::placeMark()
{
    // Centred just above the transcript's bottom edge.
    const QRect area = text->geometry();
    mark->move(area.center().x() - mark->width() / 2, area.bottom() - mark->height() - 6);
    mark->raise();
}

void TalkContent::scrollToBottom()
{
    QScrollBar *bar = text->verticalScrollBar();
    bar->setValue(bar->maximum());
    mark->hide();
}

void TalkContent::clear()
{
    text->clear(); // its pictures too
    shown = 0;
    sendersByLine.clear();
    lastLine.clear();
    following = true;
    mark->hide();
}

QString TalkContent::pictureName(const QString &key)
{
    // Never a file or network address: the transcript loads nothing itself.
    return QStringLiteral("tavi-picture:") + QString::fromLatin1(QUrl::toPercentEncoding(key));
}

QImage TalkContent::picture(const QString &key) const
{
    const QVariant held =
        text->document()->resource(QTextDocument::ImageResource, QUrl::fromEncoded(pictureName(key).toLatin1()));
    return held.value<QImage>();
}

void TalkContent::setPicture(const QString &key, const QImage &image)
{
    if (!lastLine.contains(key))
        return; // its lines are gone
    text->document()->addResource(QTextDocument::ImageResource, QUrl::fromEncoded(pictureName(key).toLatin1()), image);
    text->viewport()->update();
}

void TalkContent::usePicture(const QString &key)
{
    const auto previous = lastLine.constFind(key);
    if (previous != lastLine.constEnd()) {
        sendersByLine.remove(previous.value());
    } else {
        static const QImage placeholder =
            QImage(QStringLiteral(":/images/sys/man")).scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        text->document()->addResource(QTextDocument::ImageResource, QUrl::fromEncoded(pictureName(key).toLatin1()),
                                      placeholder);
    }
    lastLine.insert(key, appended);
    sendersByLine.insert(appended, key);
    // A sender whose last line is older than the whole transcript has none
    // left in it.
    while (!sendersByLine.isEmpty() && sendersByLine.firstKey() < appended - (kMaxLines + kTrimLines)) {
        const QString gone = sendersByLine.take(sendersByLine.firstKey());
        lastLine.remove(gone);
        text->document()->addResource(QTextDocument::ImageResource, QUrl::fromEncoded(pictureName(gone).toLatin1()),
                                      QVariant());
    }
}

void TalkContent::appendLine(data_chat_msg inf)
{
    QTextDocument *doc = text->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    // The picture, then the name and time raised beside it in blue.
    if (shown == 0 && doc->isEmpty())
        cursor.setBlockFormat(paragraph());
    else
        cursor.insertBlock(paragraph(), QTextCharFormat());
    usePicture(inf.user_id);
    QTextImageFormat picture;
    picture.setName(pictureName(inf.user_id));
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
    if (following) {
        scrollToBottom();
    } else if (mark->isHidden()) {
        placeMark();
        mark->show();
    }
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
