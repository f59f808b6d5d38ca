// The main library's ground: the shipped logging set-up, the one function it exports for the
// launcher (the launcher starting it and its sign-in dialog run end to end in tests/e2e), and the dump its crash
// handler writes when a process faults.
#include "testsupport.h"

#include "app/crashhandler.h"
#include "base/logging.h"
#include "base/signalstack.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Faults of the child process, by name.
__attribute__((noinline)) void writeToBadAddress()
{
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int *>(address) = 1;
}

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    // depth < 0 never happens: keeps the compiler from calling this endless
    return depth < 0 ? 0 : recurse(depth + 1) + frame[0];
}

void touchTruncatedMapping()
{
    char name[] = "/tmp/tavi-busXXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0 || ftruncate(fd, 8192) != 0)
        std::_Exit(3);
    auto *map = static_cast<volatile char *>(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
    unlink(name);
    if (map == MAP_FAILED || ftruncate(fd, 0) != 0)
        std::_Exit(3);
    (void)map[4096];
}

int crashChild(const char *kind)
{
    CrashHandler::install();
    if (!std::strcmp(kind, "segv"))
        writeToBadAddress();
    else if (!std::strcmp(kind, "segv-thread"))
        std::thread(writeToBadAddress).join();
    else if (!std::strcmp(kind, "overflow"))
        return recurse(0);
    else if (!std::strcmp(kind, "overflow-thread"))
        std::thread([] {
            // As every thread of the client does first.
            tavi::ensureSignalStack();
            recurse(0);
        }).join();
    else if (!std::strcmp(kind, "abort"))
        std::abort();
    else if (!std::strcmp(kind, "bus"))
        touchTruncatedMapping();
    else if (!std::strcmp(kind, "ill"))
        __builtin_trap();
    else if (!std::strcmp(kind, "fpe"))
        std::raise(SIGFPE);
    return 0; // reached only when no fault happened
}

} // namespace

class TestCrash : public QObject
{
    Q_OBJECT

    QTemporaryDir work;

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QDir::setCurrent(work.path());
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
                "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d.* WARN .*tst_crash.cpp:%1.*opening 课堂 failed: 42")
                .arg(line));
        QVERIFY2(first.match(lines.first()).hasMatch(), qPrintable(lines.first()));
    }

    void exportsOnlyMainStart()
    {
        QByteArray symbols;
        QVERIFY(testsupport::run("nm", {"-D", "--defined-only", testsupport::stageDir() + "/libtaviMainLib.so"}, 30000,
                                 &symbols));
        QStringList exported;
        // Code symbols only; data and start-up symbols of the tool chain are not ours.
        for (const QByteArray &line : symbols.split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() == 3 && (f[1] == "T" || f[1] == "W") && !f[2].startsWith("_init") && !f[2].startsWith("_fini"))
                exported << QString::fromLatin1(f[2]);
        }
        QCOMPARE(exported, QStringList{"mainStart"});
    }

    void faultLeavesDump_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("otherThread");
        QTest::addColumn<QString>("folder"); // "planted": core.dmp is a link to someone's file; "unwritable"
        QTest::newRow("segv") << "segv" << int(SIGSEGV) << false << "";
        QTest::newRow("segv, a link planted at core.dmp") << "segv" << int(SIGSEGV) << false << "planted";
        QTest::newRow("segv, the folder unwritable") << "segv" << int(SIGSEGV) << false << "unwritable";
        QTest::newRow("segv on a thread") << "segv-thread" << int(SIGSEGV) << true << "";
        QTest::newRow("stack overflow") << "overflow" << int(SIGSEGV) << false << "";
        QTest::newRow("stack overflow on a thread") << "overflow-thread" << int(SIGSEGV) << true << "";
        QTest::newRow("abort") << "abort" << int(SIGABRT) << false << "";
        QTest::newRow("bus") << "bus" << int(SIGBUS) << false << "";
        QTest::newRow("illegal instruction") << "ill" << int(SIGILL) << false << "";
        QTest::newRow("fpe") << "fpe" << int(SIGFPE) << false << "";
    }
    void faultLeavesDump()
    {
        QFETCH(QString, kind);
        QFETCH(int, signal);
        QFETCH(bool, otherThread);
        QFETCH(QString, folder);
        const bool planted = folder == QLatin1String("planted");
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString target = planted ? elsewhere.filePath("document") : dir.filePath("core.dmp");
        if (folder == QLatin1String("unwritable"))
            QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        else
            QVERIFY(testsupport::writeFile(target, QByteArray(100000, 'x'))); // to be replaced
        if (planted)
            QVERIFY(QFile::link(target, dir.filePath("core.dmp")));
        // This program dies of the fault kind in dir; the sanitizers' own fault reports would otherwise come first.
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString asan = env.value("ASAN_OPTIONS");
        env.insert("ASAN_OPTIONS",
                   asan + (asan.isEmpty() ? "" : ":") +
                       "handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigill=0:"
                       "handle_sigfpe=0:allow_user_segv_handler=1:detect_stack_use_after_return=0");
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(dir.path());
        child.start(QCoreApplication::applicationFilePath(), {"--crash", kind});
        QVERIFY(child.waitForStarted(10000));
        const qint64 childPid = child.processId();
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(child.exitCode(), signal);
        if (folder == QLatin1String("unwritable")) {
            // It still ends; root writes anyway.
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QVERIFY(geteuid() == 0 || !QFile::exists(dir.filePath("core.dmp")));
            return;
        }
        // A new file of the user's alone; a link there is not followed.
        QCOMPARE(testsupport::fileMode(dir.filePath("core.dmp")), 0600);
        if (planted)
            QCOMPARE(testsupport::readFile(target), QByteArray(100000, 'x'));
        const QString text = QString::fromUtf8(testsupport::readFile(dir.filePath("core.dmp")));
        QVERIFY(!text.isEmpty());
        QVERIFY2(!text.contains("xxxx"), "the older dump was not replaced");
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("^signal: %1 \\(SIG[A-Z]+\\)$").arg(signal),
                                                  QRegularExpression::MultilineOption)),
                 qPrintable(text.left(300)));
        if (kind == QLatin1String("segv") || kind == QLatin1String("segv-thread"))
            QVERIFY(text.contains("\naddress: 0x10\n"));
        const auto pid = QRegularExpression("\npid: (\\d+)\n").match(text);
        const auto tid = QRegularExpression("\nthread: (\\d+) ").match(text);
        QVERIFY(pid.hasMatch() && tid.hasMatch());
        QCOMPARE(pid.captured(1).toLongLong(), childPid);
        QCOMPARE(tid.captured(1) != pid.captured(1), otherThread);
        // A backtrace through this program, then the memory map.
        const int trace = text.indexOf("\nbacktrace:\n");
        const int maps = text.indexOf("\nmaps:\n");
        QVERIFY(trace > 0 && maps > trace);
        QVERIFY(text.mid(trace, maps - trace).contains("tst_app_crash"));
        QVERIFY(text.mid(maps).contains("[stack]"));
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && !std::strcmp(argv[1], "--crash"))
        return crashChild(argv[2]);
    QCoreApplication application(argc, argv);
    TestCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash.moc"
