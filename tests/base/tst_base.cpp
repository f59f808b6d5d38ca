// Settings lookup and the shipped logging set-up.
#include "base/config.h"
#include "base/logging.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>
#include <vector>

class TestAppCore : public QObject
{
    Q_OBJECT

    QTemporaryDir work;

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QDir::setCurrent(work.path());
    }

    void settingsReadFromFile()
    {
        QCOMPARE(tavi::sysConfigValue(QStringLiteral("/TaviHttp/Url")), QString()); // no file yet
        QVERIFY(testsupport::writeFile("etc/sysConfigue.ini",
                                       "[TaviHttp]\nUrl=http://school.example:8080\nchatUrl=chat.example\n"));
        QCOMPARE(tavi::sysConfigValue(QStringLiteral("/TaviHttp/Url")), QStringLiteral("http://school.example:8080"));
        QCOMPARE(tavi::sysConfigValue(QStringLiteral("/TaviHttp/chatUrl")), QStringLiteral("chat.example"));
        QCOMPARE(tavi::sysConfigValue(QStringLiteral("/TaviHttp/webUrl")), QString());
    }

    // The shipped log.properties writes to ./log, where a line tells its time, level, place and text; no line is lost
    // to several threads.
    void shippedLoggingWritesEverything()
    {
        QVERIFY(
            QFile::copy(testsupport::stageDir() + QStringLiteral("/log.properties"), QStringLiteral("log.properties")));
        tavi::startLogging();
        tavi::startLogging(); // a second start changes nothing
        const int line = __LINE__ + 1;
        TAVI_LOG_WARN("opening " << QStringLiteral("课堂") << " failed: " << 42);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 50; ++i)
                    TAVI_LOG_INFO("thread " << t << " line " << i);
            });
        for (auto &t : threads)
            t.join();

        const QStringList lines =
            QString::fromUtf8(testsupport::readFile(QStringLiteral("log/tavi.log"))).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 201);
        const QRegularExpression first(
            QStringLiteral(
                "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d.* WARN .*tst_base.cpp:%1.*opening 课堂 failed: 42")
                .arg(line));
        QVERIFY2(first.match(lines.first()).hasMatch(), qPrintable(lines.first()));
    }
};

QTEST_GUILESS_MAIN(TestAppCore)
#include "tst_base.moc"
