#include "demoschool.h"
#include "testsupport.h"
#include "widgets.h"

#include "chat/conlistwidget.h"
#include "chat/talkcontent.h"
#include "chat/talkwidget.h"
#include "net/avatarcache.h"
#include "net/avatarloader.h"
#include "net/flash.h"
#include "net/userinfo.h"
#include "ui/textbtn.h"

#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QtTest>

namespace {

const QString kDead = QStringLiteral("http://127.0.0.1:1/gone.png");

data_chat_msg line(const QString &info, const QString &name = QStringLiteral("N"),
                   const QString &time = QStringLiteral("10:00:00"), const QString &uid = QStringLiteral("u1"),
                   const QString &photo = kDead)
{
    return {info, name, uid, photo, time};
}

data_chat_use user(const QString &id, const QString &photo)
{
    return {id, QString(), id.toUpper(), photo};
}

// Text of the last line's two paragraphs: "name time" and the text.
QPair<QString, QString> lastLine(const TalkContent &talk)
{
    // The picture stands as an object character before the name.
    const QTextBlock text = talk.browser()->document()->lastBlock();
    return {text.previous().text().remove(QChar::ObjectReplacementCharacter), text.text()};
}

// The pictures' names, and how many fragments are links or bold/italic.
struct Fragments
{
    QStringList images;
    int marked = 0;
};

Fragments fragments(const QTextDocument *doc)
{
    Fragments found;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat())
                found.images << format.toImageFormat().name();
            if (format.isAnchor() || format.fontWeight() > QFont::Normal || format.fontItalic())
                ++found.marked;
        }
    }
    return found;
}

} // namespace

// The talk view, the participant list and the panel's pages, with pictures from the demo school.
class TestViews : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;

    QString picture(const QString &id) const { return school.baseUrl() + QStringLiteral("/avatar/%1.png").arg(id); }

private slots:
    void initTestCase() { QVERIFY(school.start() && school.writeSysConfig()); }

    void init() { QDir(QStringLiteral("pic")).removeRecursively(); }

    void valuesShownAsTyped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("shown"); // the text paragraph; null: info itself
        const auto row = [](const char *tag, const QString &info, const char *name = "N", const char *time = "10:00:00",
                            const QString &shown = QString()) { QTest::newRow(tag) << name << time << info << shown; };
        row("markup in the text",
            "<b>bold</b> <img src=\"http://127.0.0.1:1/x.png\"> <a href=\"http://x\">link</a><table><tr><td>t");
        row("markup in name and time", "x", "<i>N</i>", "<b>1</b>:00:00");
        row("entities", "&lt;b&gt; &nbsp;", "&amp; &lt;");
        row("placeholders", "%1 %2 %4", "%2%3", "%4");
        row("line breaks", QString::fromUtf8("a\nb\r\nc\rd\u2029e"), "N", "10:00:00", "a\nb\nc\nd\ne");
        row("blanks", "a   b  \t c ");
        row("empty", "");
    }
    void valuesShownAsTyped()
    {
        QFETCH(QString, name);
        QFETCH(QString, time);
        QFETCH(QString, info);
        QFETCH(QString, shown);
        TalkContent talk;
        talk.appendLine(line(QStringLiteral("before")));
        talk.appendLine(line(info, name, time));
        auto last = lastLine(talk);
        QCOMPARE(last.first, name + QLatin1Char(' ') + time);
        QCOMPARE(last.second.replace(QChar::LineSeparator, QLatin1Char('\n')), shown.isNull() ? info : shown);
        QCOMPARE(talk.browser()->document()->blockCount(), 4);
        const Fragments found = fragments(talk.browser()->document());
        QCOMPARE(found.images.size(), 2); // the senders' pictures only
        QCOMPARE(found.marked, 0);
    }

    // A received line shows the last eight characters of its time; one without a sender is not shown.
    void receivedLine_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("header"); // null: nothing shown
        QTest::newRow("date and time") << "2016-05-10 09:05:07" << QStringLiteral("u1") << "N 09:05:07";
        QTest::newRow("short") << "9:05" << QStringLiteral("u1") << "N 9:05";
        QTest::newRow("no sender") << "10:00:00" << QString() << QString();
    }
    void receivedLine()
    {
        QFETCH(QString, time);
        QFETCH(QString, uid);
        QFETCH(QString, header);
        TalkWidget view;
        view.slot_receiveMsg(line(QStringLiteral("x"), QStringLiteral("N"), time, uid));
        QCOMPARE(view.content()->appendedLines(), header.isNull() ? 0 : 1);
        if (!header.isNull())
            QCOMPARE(lastLine(*view.content()).first, header);
    }

    // A line shows at once with a placeholder; the sender's picture comes
    // from the cache, fetched once per sender, and fills it in.
    void senderPictures()
    {
        TalkWidget view;
        TalkContent *talk = view.content();
        const QTextDocument *doc = talk->browser()->document();
        view.slot_receiveMsg(line("one", "小明", "10:00:00", "10001", picture("10001")));
        QCOMPARE(talk->appendedLines(), 1);
        QTRY_VERIFY(QFile::exists(QStringLiteral("pic/10001.png")));
        const QImage cached(QStringLiteral("pic/10001.png"));
        QCOMPARE(cached.size(), QSize(20, 20));
        QTRY_VERIFY(testsupport::sameImage(talk->picture("10001"), cached));
        // The second line's address is dead: the cached picture serves.
        view.slot_receiveMsg(line("two", "小明", "10:00:01", "10001", kDead));
        // A sender whose picture cannot be had, and one whose id holds markup.
        view.slot_receiveMsg(line("three", "x", "10:00:02", "20002", kDead));
        view.slot_receiveMsg(line("four", "y", "10:00:03", "a\"><b>%41", picture("30001")));
        QCOMPARE(talk->appendedLines(), 4);
        const Fragments found = fragments(doc);
        QCOMPARE(found.images.size(), 4);
        QCOMPARE(found.images[0], found.images[1]);
        QCOMPARE(found.images[2], TalkContent::pictureName("20002"));
        QCOMPARE(found.marked, 0);
        QTRY_COMPARE(view.pictureLoader()->pending(), 0);
        QVERIFY(testsupport::sameImage(talk->picture("10001"), cached));
        QVERIFY(!talk->picture("20002").isNull());
        QTRY_VERIFY(QFile::exists(avatarCachePath("a\"><b>%41")));
        QVERIFY(testsupport::sameImage(talk->picture("a\"><b>%41"), QImage(avatarCachePath("a\"><b>%41"))));
        QVERIFY(!testsupport::sameImage(talk->picture("a\"><b>%41"), cached));
    }

    void sending_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("typed");
        QTest::newRow("empty box") << true << "";
        QTest::newRow("a line") << true << "你好\n第二行";
        QTest::newRow("not connected") << false << "keep me";
    }
    void sending()
    {
        QFETCH(bool, online);
        QFETCH(QString, typed);
        UserInfo::instance().userId = QStringLiteral("10001");
        UserInfo::instance().photo = picture(QStringLiteral("10001"));
        TalkWidget view;
        view.setOnline(online);
        QSignalSpy sent(&view, SIGNAL(s_send(QString)));
        view.input()->setPlainText(typed);
        QTest::mouseClick(view.sendButton(), Qt::LeftButton);
        QCOMPARE(sent.count(), online ? 1 : 0);
        // Sent, the box empties and the user's own picture is ready for
        // the line coming back; not sent, the text stays and the user is told.
        QCOMPARE(view.input()->toPlainText(), online ? QString() : typed);
        if (online) {
            QCOMPARE(sent.at(0).at(0).toString(), typed);
            QTRY_VERIFY(QFile::exists(QStringLiteral("pic/10001.png")));
        }
        QCOMPARE(testsupport::takeNotice<Flash>(QStringLiteral("聊天未连接")), !online);
        // Nothing is shown until the server hands the line back.
        QCOMPARE(view.content()->appendedLines(), 0);
    }

    void transcriptKeepsTheLatestLines()
    {
        TalkContent talk;
        const int total = TalkContent::kMaxLines + TalkContent::kTrimLines + 1;
        for (int i = 0; i < total; ++i) {
            talk.appendLine(line(QStringLiteral("text %1\nmore").arg(i), QStringLiteral("n%1").arg(i)));
            if (i == total - 2)
                QCOMPARE(talk.lines(), TalkContent::kMaxLines + TalkContent::kTrimLines);
        }
        const QTextDocument *doc = talk.browser()->document();
        const int first = total - TalkContent::kMaxLines;
        QCOMPARE(talk.lines(), TalkContent::kMaxLines);
        QCOMPARE(talk.appendedLines(), total);
        QCOMPARE(doc->blockCount(), 2 * TalkContent::kMaxLines);
        QCOMPARE(doc->firstBlock().text().remove(QChar::ObjectReplacementCharacter),
                 QStringLiteral("n%1 10:00:00").arg(first));
        QCOMPARE(lastLine(talk).second,
                 QStringLiteral("text %1").arg(total - 1) + QChar(QChar::LineSeparator) + "more");
    }

    void participants_data()
    {
        // Steps: "in:ID", "out:ID", "list:ID;ID;...", "clear".
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("listed"); // names shown, in order
        QTest::addColumn<QList<int>>("sums"); // s_studentSum values, in order
        QTest::newRow("same uid twice") << QStringList{"in:a", "in:a"} << QStringList{"A"} << QList<int>{1};
        QTest::newRow("list merges") << QStringList{"in:a", "in:b", "list:b;c;a;d"} << QStringList{"A", "B", "C", "D"}
                                     << QList<int>{1, 2, 4};
        QTest::newRow("empty list") << QStringList{"in:a", "list:"} << QStringList{"A"} << QList<int>{1, 1};
        QTest::newRow("out") << QStringList{"in:a", "in:b", "out:a"} << QStringList{"B"} << QList<int>{1, 2, 1};
        QTest::newRow("out of a stranger") << QStringList{"in:a", "out:z"} << QStringList{"A"} << QList<int>{1};
        QTest::newRow("clear") << QStringList{"in:a", "clear", "in:b"} << QStringList{"B"} << QList<int>{1, 0, 1};
    }
    void participants()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, listed);
        QFETCH(QList<int>, sums);
        ConListWidget list;
        QSignalSpy sum(&list, SIGNAL(s_studentSum(int)));
        for (const QString &step : steps) {
            const QString arg = step.section(QLatin1Char(':'), 1);
            if (step.startsWith(QLatin1String("in:"))) {
                list.slot_userIn(user(arg, picture("10001")));
            } else if (step.startsWith(QLatin1String("out:"))) {
                list.slot_userOut(user(arg, QString()));
            } else if (step.startsWith(QLatin1String("list:"))) {
                std::vector<data_chat_use> users;
                for (const QString &id : arg.split(QLatin1Char(';'), Qt::SkipEmptyParts))
                    users.push_back(user(id, picture("10001")));
                list.slot_usersListInf(users);
            } else {
                list.slot_clearUsersList();
            }
        }
        QTRY_COMPARE(list.picturesPending(), 0);
        QStringList names;
        for (int i = 0; i < list.count(); ++i)
            names << list.item(i)->text();
        QCOMPARE(names, listed);
        QCOMPARE(list.participants(), listed.size());
        QList<int> got;
        for (const QList<QVariant> &args : sum)
            got << args.at(0).toInt();
        QCOMPARE(got, sums);
    }

    // Huge texts (a run of 1 MB without a break takes Qt hours to lay out) are cut to their beginning.
    void hugeTextsCut()
    {
        TalkWidget view;
        view.resize(230, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QString huge(1 << 20, QLatin1Char('w'));
        view.slot_receiveMsg(line(huge, huge, huge));
        QCoreApplication::processEvents();
        const auto last = lastLine(*view.content());
        QCOMPARE(last.second, huge.left(TalkContent::kMaxTextChars) + QChar(0x2026));
        QCOMPARE(last.first, huge.left(TalkContent::kMaxNameChars) + QChar(0x2026) + QLatin1Char(' ') + "wwwwwwww");
        // Below the limit nothing is cut.
        const QString longest(TalkContent::kMaxTextChars, QLatin1Char('v'));
        view.slot_receiveMsg(line(longest));
        QCOMPARE(lastLine(*view.content()).second, longest);
    }
};

QTEST_MAIN(TestViews)
#include "tst_views.moc"
