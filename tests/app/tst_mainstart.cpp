#include "demoschool.h"
#include "testsupport.h"

#include <QApplication>
#include <QDialog>
#include <QLibrary>
#include <QProcess>
#include <QtTest>

// The deliverable as the launcher uses it: load the stage's library by file
// name and call its one export on this process's QApplication.
class TestMainStart : public QObject
{
    Q_OBJECT

private slots:
    void exportsOnlyMainStart();
    void mainStartShowsLoginDialog();
};

void TestMainStart::exportsOnlyMainStart()
{
    QByteArray symbols;
    QVERIFY(testsupport::run("nm", {"-D", "--defined-only", testsupport::stageDir() + "/libtaviMainLib.so"},
                             30000, &symbols));
    QStringList exported;
    // Code symbols only; data and start-up symbols of the tool chain are not ours.
    for (const QByteArray &line : symbols.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() == 3 && (f[1] == "T" || f[1] == "W") && !f[2].startsWith("_init") && !f[2].startsWith("_fini"))
            exported << QString::fromLatin1(f[2]);
    }
    QCOMPARE(exported, QStringList{"mainStart"});
}

void TestMainStart::mainStartShowsLoginDialog()
{
    testsupport::DemoSchool school;
    QVERIFY(school.start());
    QVERIFY(school.writeSysConfig());
    QLibrary library(testsupport::stageDir() + "/libtaviMainLib.so");
    auto mainStart = reinterpret_cast<int (*)()>(library.resolve("mainStart"));
    QVERIFY2(mainStart, qPrintable(library.errorString()));
    QCOMPARE(mainStart(), 0);

    QDialog *login = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (QByteArray(widget->metaObject()->className()) == "LoginDlg" && widget->isVisible())
            login = qobject_cast<QDialog *>(widget);
    QVERIFY(login);
    QVERIFY(QTest::qWaitForWindowExposed(login));
    // Nothing else is on screen yet: the main window and the tray wait.
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(widget == login || !widget->isVisible(), widget->metaObject()->className());
}

QTEST_MAIN(TestMainStart)
#include "tst_mainstart.moc"
