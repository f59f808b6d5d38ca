// The interface in English and in Chinese: the choice of language and its fallbacks, a translators' file that is
// complete for the code as it stands, and every window's texts shown whole in both languages.
#include "app/mainwindow.h"
#include "base/language.h"
#include "classroom/monitorchooser.h"
#include "course/courseinfo.h"
#include "course/courselistitem.h"
#include "net/logindlg.h"
#include "recorder/recordwindow.h"
#include "testsupport.h"
#include "ui/label.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidgetItem>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTranslator>
#include <QVBoxLayout>
#include <QXmlStreamReader>

namespace {
QString sourceDir()
{
    return qEnvironmentVariable("TAVI_SOURCE_DIR");
}

void dropTranslations()
{
    for (QTranslator *translator : qApp->findChildren<QTranslator *>(QString(), Qt::FindDirectChildrenOnly))
        delete translator;
}

QString endText()
{
    return QCoreApplication::translate("Screen", "[结束]");
}

// The translators' file's messages: context/source -> translation, and those not finished.
struct Messages
{
    int count = 0;
    QStringList unfinished;
    QStringList placeholderFaults;
};

Messages readTs(const QString &path)
{
    Messages m;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return m;
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    const auto placeholders = [](const QString &text) {
        QStringList found;
        for (auto it = placeholder.globalMatch(text); it.hasNext();)
            found << it.next().captured();
        found.sort();
        return found;
    };
    QXmlStreamReader xml(&file);
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const bool unfinished = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            const QString translation = xml.readElementText();
            ++m.count;
            if (unfinished || translation.trimmed().isEmpty())
                m.unfinished << source;
            if (placeholders(source) != placeholders(translation))
                m.placeholderFaults << source;
        }
    }
    return m;
}

// Texts of a window that do not fit where they are shown, as "class 'text' needs N px, has M".
QStringList clippedTexts(QWidget *window)
{
    QStringList clipped;
    const auto check = [&](QWidget *w, const QString &text, int needed, int has) {
        if (needed > has)
            clipped << QStringLiteral("%1 '%2' needs %3 px, has %4")
                           .arg(QString::fromLatin1(w->metaObject()->className()), text)
                           .arg(needed)
                           .arg(has);
    };
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window) || w->width() == 0)
            continue;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (label->wordWrap() || label->text().isEmpty() || label->textFormat() == Qt::RichText ||
                Qt::mightBeRichText(label->text()))
                continue;
            for (const QString &line : label->text().split('\n'))
                check(w, line, label->fontMetrics().horizontalAdvance(line), label->contentsRect().width());
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            if (!button->text().isEmpty())
                check(w, button->text(), button->sizeHint().width(), button->width());
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            if (!edit->placeholderText().isEmpty())
                check(w, edit->placeholderText(), edit->fontMetrics().horizontalAdvance(edit->placeholderText()),
                      edit->width() - 8);
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                check(w, combo->itemText(i), combo->fontMetrics().horizontalAdvance(combo->itemText(i)),
                      combo->width() - 24);
        }
    }
    return clipped;
}

CourseInfo course(const QString &teachingType)
{
    CourseInfo info;
    info.name = QStringLiteral("Algebra");
    info.joint_num = QStringLiteral("12");
    // Counting down: a few hours from now.
    info.appointment_time = QDateTime::currentDateTime().addSecs(3 * 3600).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    info.teaching_type = teachingType;
    return info;
}
} // namespace

class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        dropTranslations();
        qunsetenv("TAVI_LANG");
    }

    void chosenByTaviLangWithChineseFallback()
    {
        qputenv("TAVI_LANG", "en");
        QCOMPARE(tavi::interfaceLanguage(), QStringLiteral("en"));
        QCOMPARE(tavi::installTranslations(qApp), QStringLiteral("en"));
        QCOMPARE(endText(), QStringLiteral("[End]"));
        dropTranslations();

        qputenv("TAVI_LANG", "ZH ");
        QCOMPARE(tavi::installTranslations(qApp), QStringLiteral("zh"));
        QCOMPARE(endText(), QStringLiteral("[结束]"));
        dropTranslations();

        // A missing or damaged translation leaves the Chinese texts, never empty ones.
        qputenv("TAVI_LANG", "en");
        QTemporaryDir dir;
        const QString damaged = dir.filePath(QStringLiteral("damaged.qm"));
        QVERIFY(testsupport::writeFile(damaged, QByteArray("\x3c\xb8\x64\x18garbage", 11)));
        QCOMPARE(tavi::installTranslations(qApp, damaged), QStringLiteral("zh"));
        QCOMPARE(endText(), QStringLiteral("[结束]"));
        QCOMPARE(tavi::installTranslations(qApp, dir.filePath(QStringLiteral("none.qm"))), QStringLiteral("zh"));
        QCOMPARE(endText(), QStringLiteral("[结束]"));
        // Anything else follows the desktop's locale.
        qputenv("TAVI_LANG", "fr");
        QCOMPARE(tavi::interfaceLanguage(),
                 QLocale::system().name().startsWith("zh") ? QStringLiteral("zh") : QStringLiteral("en"));
    }

    void englishFileIsCompleteForTheCode()
    {
        const QString ts = sourceDir() + QStringLiteral("/resources/translations/tavi_en.ts");
        const Messages kept = readTs(ts);
        QVERIFY2(kept.count > 100, qPrintable(ts));
        QVERIFY2(kept.unfinished.isEmpty(), qPrintable(kept.unfinished.join('\n')));
        QVERIFY2(kept.placeholderFaults.isEmpty(), qPrintable(kept.placeholderFaults.join('\n')));
        // lupdate over the code as it stands into a copy: no text comes in unfinished, none goes.
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("tavi_en.ts"));
        QVERIFY(QFile::copy(ts, copy));
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(sourceDir() + QStringLiteral("/tools/update-translations.sh"), {copy});
        QVERIFY(lupdate.waitForFinished(60000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());
        const Messages updated = readTs(copy);
        QVERIFY2(updated.unfinished.isEmpty(),
                 qPrintable(QStringLiteral("texts without an English translation (run tools/update-translations.sh "
                                           "and translate them):\n") +
                            updated.unfinished.join('\n')));
        QCOMPARE(updated.count, kept.count);
    }

    void windowsShowTheirTextsWhole_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("English") << QStringLiteral("en");
        QTest::newRow("Chinese") << QStringLiteral("zh");
    }
    void windowsShowTheirTextsWhole()
    {
        QFETCH(QString, language);
        qputenv("TAVI_LANG", language.toUtf8());
        QCOMPARE(tavi::installTranslations(qApp), language);

        std::vector<std::unique_ptr<QWidget>> windows;
        windows.emplace_back(new LoginDlg);
        windows.emplace_back(new MainWindow);
        windows.emplace_back(new recordWindow);
        windows.emplace_back(new MonitorChooser);
        auto *box = new MessageBox;
        box->setText(QCoreApplication::translate("TitleWidget", "正在上课，确定要结束本节课吗？"));
        windows.emplace_back(box);
        // Today's courses of each kind, in the course panel's width.
        auto *panel = new QWidget;
        panel->setFixedWidth(230);
        auto *rows = new QVBoxLayout(panel);
        std::vector<std::unique_ptr<QListWidgetItem>> items;
        for (const char *type : {"1", "2", "3"}) {
            items.emplace_back(new QListWidgetItem);
            auto *row = new CourseListItem(items.back().get(), course(QString::fromLatin1(type)), panel);
            // From its first tick on: before it, the row names its date and time.
            row->displayTimeLabel();
            rows->addWidget(row);
        }
        windows.emplace_back(panel);

        for (const auto &window : windows) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            // The classroom's control bar with all its links, as a teacher's class shows them.
            for (Label *link : window->findChildren<Label *>())
                if (link->isClickable() && !link->text().isEmpty())
                    link->show();
            QApplication::processEvents();
            const QStringList clipped = clippedTexts(window.get());
            QVERIFY2(clipped.isEmpty(),
                     qPrintable(QStringLiteral("%1: %2").arg(QString::fromLatin1(window->metaObject()->className()),
                                                             clipped.join(QStringLiteral("; ")))));
        }
    }
};

QTEST_MAIN(LanguageTest)
#include "tst_language.moc"
