// Single instance with real processes: a second copy brings the first forward and ends at once; a copy
// that finds only the leftover marker of a killed copy starts normally.
#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class InstanceTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;

    // Each copy gets the offscreen platform and our temporary folder, which also holds the marker, so the
    // test never meets a Vindrel that a user runs.
    std::unique_ptr<QProcess> Launch() {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), m_dir.path());
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(m_dir.path());
        process->start(QStringLiteral(VINDREL_BINARY), QStringList{});
        return process;
    }

    QString MarkerPath() const { return m_dir.path() + "/" + InstanceMarkerName(); }

    // True once a copy answers on the marker. Connecting without sending the value activates nothing.
    static bool Answers() {
        QLocalSocket probe;
        probe.connectToServer(InstanceMarkerName());
        const bool connected = probe.waitForConnected(200);
        probe.abort();
        return connected;
    }

    static bool StderrContains(QProcess& process, QByteArray& seen, const char* text) {
        seen += process.readAllStandardError();
        return seen.contains(text);
    }

    // Starts a second copy against a running first and checks both sides of the activation.
    void ExpectActivation(QProcess& first, QByteArray& firstErr) {
        auto second = Launch();
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(second->readAllStandardError().contains("already runs"));
        QTRY_VERIFY_WITH_TIMEOUT(StderrContains(first, firstErr, "ActivateInstance"), 10000);
        QCOMPARE(first.state(), QProcess::Running);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // The probe in this process must look in the same folder as the copies it starts.
        qputenv("TMPDIR", m_dir.path().toLocal8Bit());
    }

    void secondCopyActivatesTheFirst() {
        auto first = Launch();
        QVERIFY(first->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(Answers(), 20000);
        QByteArray firstErr;
        ExpectActivation(*first, firstErr);
        QVERIFY(!firstErr.contains("already runs"));

        // Killed without closing its window, the first copy leaves its marker behind.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QVERIFY(QFile::exists(MarkerPath()));

        auto third = Launch();
        QVERIFY(third->waitForStarted());
        QByteArray thirdErr;
        QTRY_VERIFY_WITH_TIMEOUT(Answers(), 20000);
        QCOMPARE(third->state(), QProcess::Running);
        ExpectActivation(*third, thirdErr);
        QVERIFY(!thirdErr.contains("already runs"));
        third->kill();
        QVERIFY(third->waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(InstanceTest)
#include "InstanceTest.moc"
