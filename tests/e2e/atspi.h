#pragma once

#include "testsupport.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>

// A program's controls found and driven through the accessibility bus, by role as pyatspi names it ("push button",
// "text", "password text", "label") and accessible name, with tests/e2e/atspi.py. A nameless control matches by its
// description (a line edit's placeholder text). The tests run inside tests/e2e/atspi-session.sh (a session bus with the
// AT-SPI bus on it); the program under test must start there with environment() in its own.
//
//     Atspi ui(QStringLiteral("tavi"), client.pid());
//     QVERIFY2(ui.setText("text", "用户名", "alice"), qPrintable(ui.lastError()));
//     QVERIFY2(ui.press("push button", "确定"), qPrintable(ui.lastError()));
class Atspi
{
public:
    // The program by its accessible name (Qt's applicationName: the executable's name) and, when several of that name
    // share the bus (a teacher and a student), by its process; timeoutMs bounds each call but waitFor.
    explicit Atspi(const QString &app, qint64 pid = 0, int timeoutMs = 10000)
        : m_app(app), m_pid(pid), m_timeoutMs(timeoutMs)
    {
    }

    // Qt 5 reads these at its start: without them it stays off the bus.
    static QProcessEnvironment environment()
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_ACCESSIBILITY"), QStringLiteral("1"));
        return environment;
    }
    // Why the tool cannot work here (empty when it can), for QSKIP.
    static QString missing()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            return QStringLiteral("needs the accessibility bus of tests/e2e/atspi-session.sh");
        if (!QFile::exists(script()))
            return QStringLiteral("no %1").arg(script());
        return QString();
    }

    void setPid(qint64 pid) { m_pid = pid; }
    // For the calls that follow: the name is a part of the control's.
    void setMatch(bool contains) { m_contains = contains; }

    // Waits until a matching control shows.
    bool waitFor(const QString &role, const QString &name, int timeoutMs)
    {
        return call(QStringLiteral("wait"), control(role, name), timeoutMs);
    }
    // Its Press action, whether its window is active or not (clicked() may come a moment later: Qt's buttons animate
    // the click).
    bool press(const QString &role, const QString &name)
    {
        return call(QStringLiteral("press"), control(role, name), m_timeoutMs);
    }
    // Replaces a line edit's text (QLineEdit::setText: textChanged, not textEdited) and waits until it reads back.
    bool setText(const QString &role, const QString &name, const QString &text)
    {
        return call(QStringLiteral("settext"), control(role, name) << QStringLiteral("--") << text, m_timeoutMs);
    }
    // "role<TAB>name" of the control that has the focus; empty when none has.
    QString focused()
    {
        QString out;
        return call(QStringLiteral("focused"), {}, m_timeoutMs, &out) ? out.trimmed() : QString();
    }
    // Why the last call failed: the tool's message.
    QString lastError() const { return m_error; }

private:
    static QString script()
    {
#ifdef TAVI_E2E_ATSPI
        return QStringLiteral(TAVI_E2E_ATSPI);
#else
        return testsupport::sourceDir() + QStringLiteral("/tests/e2e/atspi.py");
#endif
    }
    // pyatspi comes with the system's Python, not with one that PATH may name first (pyenv).
    static QString python()
    {
        return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                 : QStringLiteral("python3");
    }

    QStringList control(const QString &role, const QString &name) const
    {
        // One word each: a name that starts with a dash stays a value.
        QStringList args{QStringLiteral("--role=") + role, QStringLiteral("--name=") + name};
        if (m_contains)
            args << QStringLiteral("--contains");
        return args;
    }

    bool call(const QString &command, const QStringList &args, int timeoutMs, QString *out = nullptr)
    {
        QStringList all{script(),
                        command,
                        QStringLiteral("--app"),
                        m_app,
                        QStringLiteral("--timeout"),
                        QString::number(timeoutMs / 1000.0)};
        if (m_pid > 0)
            all << QStringLiteral("--pid") << QString::number(m_pid);
        // settext's text follows "--" at the end.
        all << args;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
        process.setProcessEnvironment(environment);
        process.start(python(), all);
        if (!process.waitForStarted(10000)) {
            m_error = QStringLiteral("atspi: %1 does not start: %2").arg(python(), process.errorString());
            return false;
        }
        // The tool gives up by itself after timeoutMs; the margin is for a bus that hangs. The event loop keeps
        // running meanwhile, for the test's own servers.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs + 15000)) {
            process.kill();
            process.waitForFinished(5000);
            m_error = QStringLiteral("atspi: %1 did not end within %2 ms").arg(command).arg(timeoutMs + 15000);
            return false;
        }
        m_error = QString::fromUtf8(process.readAllStandardError()).trimmed();
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            if (m_error.isEmpty())
                m_error = QStringLiteral("atspi: %1 ended with %2").arg(command).arg(process.exitCode());
            return false;
        }
        if (out)
            *out = QString::fromUtf8(process.readAllStandardOutput());
        return true;
    }

    QString m_app;
    qint64 m_pid;
    int m_timeoutMs;
    bool m_contains = false;
    QString m_error;
};
