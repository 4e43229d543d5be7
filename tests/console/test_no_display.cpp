// The console program started where there is no display and no platform is
// chosen: one line that says so and how to run it instead, status 1.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestNoDisplay : public QObject {
    Q_OBJECT

private slots:
    void saysSoInOneLine() {
        const QString program = QCoreApplication::applicationDirPath() + "/../../console/Cmdora";
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
        QTemporaryDir home; // nothing may touch the real settings, should it start after all
        QVERIFY(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
            env.remove(name);
        env.insert("XDG_CONFIG_HOME", home.path());
        env.insert("XDG_STATE_HOME", home.path());
        QProcess proc;
        proc.setProcessEnvironment(env);
        proc.start(program, {});
        QVERIFY(proc.waitForStarted(10000));
        if (!proc.waitForFinished(30000)) {
            proc.kill();
            proc.waitForFinished(5000);
            QFAIL("the console did not stop");
        }
        QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc.exitCode(), 1);
        const QString err = QString::fromUtf8(proc.readAllStandardError());
        QCOMPARE(err.count('\n'), 1);
        QVERIFY2(err.startsWith("Cmdora: no display found"), qPrintable(err));
        QVERIFY2(err.contains("xvfb-run Cmdora") && err.contains("-platform offscreen"), qPrintable(err));
        QCOMPARE(proc.readAllStandardOutput(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestNoDisplay)
#include "test_no_display.moc"
