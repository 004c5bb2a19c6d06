#include <QtTest>

#include "gl_param.h"
#include "log_capture.h"
#include "worker_pool.h"

class TstDriver : public QObject {
    Q_OBJECT
private slots:
    void classify_data();
    void classify();
};

void TstDriver::classify_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QString>("log");
    QTest::newRow("exit 0") << 0 << true << "";
    QTest::newRow("exit 1") << (1 << 8) << false << "";
    QTest::newRow("exit 22") << (22 << 8) << false << "";
    QTest::newRow("core dump") << (0x80 | 11) << false
                               << "ERROR: Prozess 42 abgebrochen mit status 0 - CORE dump\n";
    QTest::newRow("core dump with exit byte") << ((3 << 8) | 0x80 | 6) << false
                               << "ERROR: Prozess 42 abgebrochen mit status 3 - CORE dump\n";
    QTest::newRow("killed") << 9 << false << "ERROR: Prozess 42 abgebrochen durch Signal 9\n";
    QTest::newRow("terminated") << 15 << false << "ERROR: Prozess 42 abgebrochen durch Signal 15\n";
}

void TstDriver::classify()
{
    QFETCH(int, status);
    QFETCH(bool, succeeded);
    QFETCH(QString, log);
    GL_param.output_path = QDir::tempPath() + "/strandor-no-such-dir";
    const int ok_before = GL_param.processes_succeeded;
    const int failed_before = GL_param.processes_failed;
    LogCapture capture;
    QCOMPARE(count_worker(42, status), succeeded);
    QCOMPARE(capture.text(), log);
    QCOMPARE(GL_param.processes_succeeded - ok_before, succeeded ? 1 : 0);
    QCOMPARE(GL_param.processes_failed - failed_before, succeeded ? 0 : 1);
}

QTEST_APPLESS_MAIN(TstDriver)
#include "tst_driver.moc"
