#include "testsupport.h"

#include <QtTest>

// The deliverable exports one function for the launcher. (The launcher
// starting it and its sign-in dialog run end to end in tests/e2e.)
class TestMainStart : public QObject
{
    Q_OBJECT

private slots:
    void exportsOnlyMainStart();
};

void TestMainStart::exportsOnlyMainStart()
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

QTEST_GUILESS_MAIN(TestMainStart)
#include "tst_mainstart.moc"
