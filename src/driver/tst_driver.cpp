#include <QtTest>

#include "gl_param.h"
#include "log_capture.h"
#include "worker_pool.h"

// The pool's counting of its workers.
class TstDriver : public QObject {
    Q_OBJECT
private slots:
    void classify_data();
    void classify();
};

// Exits and kills without a core are counted in the end-to-end runs.
void TstDriver::classify_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("log");
    QTest::newRow("core dump") << (0x80 | 11) << "ERROR: Prozess 42 abgebrochen mit status 0 - CORE dump\n";
}

void TstDriver::classify()
{
    QFETCH(int, status);
    QFETCH(QString, log);
    GL_param.output_path = QDir::tempPath() + "/strandor-no-such-dir";
    const int ok_before = GL_param.processes_succeeded, failed_before = GL_param.processes_failed;
    LogCapture capture;
    QVERIFY(!count_worker(42, status, QString()));
    QCOMPARE(capture.text(), log);
    QCOMPARE(GL_param.processes_succeeded, ok_before);
    QCOMPARE(GL_param.processes_failed, failed_before + 1);
}

QTEST_APPLESS_MAIN(TstDriver)
#include "tst_driver.moc"
