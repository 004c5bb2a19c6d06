#include <QtTest>

#include <unistd.h>

#include "elog.h"
#include "gl_param.h"
#include "input_name.h"
#include "log_capture.h"
#include "name_codec.h"
#include "worker_pool.h"

// The small units of the run: the event log, input file names and the pool's counting.
class TstDriver : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { install_name_codec(); }
    void entries_as_given();
    void names_as_bytes();
    void stamps_data();
    void stamps();
    void classify_data();
    void classify();
};

void TstDriver::entries_as_given()
{
    LogCapture capture;
    GL_param.mypid = 4711; // a worker's entries carry the pid it set after its fork
    elog.log("no line feed");
    elog.log_lines("first\nsecond\n");
    elog.log(QFile::decodeName("a\nb\r\x1b\x7f\t\xe9\xc2\x9b\n"));
    elog.log(QString::fromUtf8("Süd\n"));
    GL_param.mypid = getpid();
    // One prefix per entry, none on the later lines of a multi-line entry; others escaped.
    const QRegularExpression entries(QString::fromUtf8(
        "^\\[4711\\] [0-9. :]{20}no line feed\\[4711\\] [0-9. :]{20}first\\nsecond\\n\\[4711\\] [0-9. :]{20}"
        "a\\\\nb\\\\r\\\\x1B\\\\x7F\\t\\\\xE9\\\\xC2\\\\x9B\\n\\[4711\\] [0-9. :]{20}Süd\\n$"));
    const QString raw = capture.raw();
    QVERIFY2(entries.match(raw).hasMatch(), qPrintable(raw));
}

void TstDriver::names_as_bytes()
{
    // Any bytes survive as a name: invalid, overlong, surrogate and truncated sequences and
    // the UTF-8 of a character that keeps a byte; valid UTF-8 reads as such.
    const QByteArray name("\xc3\xa4\xf0\x9f\x98\x80\x01\x7f\x80\xbf\xc1\xf5\xfe\xff\xee\xbe\x80\xed\xb2\x80\xc0\xaf\xf4\x90\x80\x80\xe2\x82");
    QCOMPARE(QFile::encodeName(QFile::decodeName(name)), name);
    QCOMPARE(QFile::decodeName(name).left(3), QString::fromUtf8("\xc3\xa4\xf0\x9f\x98\x80"));
}

void TstDriver::stamps_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stamp");
    const char *rows[][2] = {
        {"D20241211.0934+0000-0936+0000_-0_DC=Keysight.com,SubNetwork=Morrisville,ManagedElement=GNB-1_-_1.xml",
         "2024-12-11 09:34"},
        {"A20200101.2345+0100-20200102.0000+0100_NodeA.xml.gz", "2020-01-01 23:45"},
        {"x_B20200101.1400-1415.xml", "2020-01-01 14:00"},
        {"A20230515.0700_0100-0715_0100_GNODEB-0.xml", "2023-05-15 07:00"},
        {"A20230515.0700_0100-0715_GNODEB-0.xml", "2023-05-15 07:00"},
        // The own group: the last one, four time digits, anything after them.
        {"a_20111110_1345_20111111_0900.xml", "2011-11-11 09:00"},
        {"meas_20111110_13456.dat.xml", "2011-11-10 13:45"},
        {"meas_2011111_1345.xml", ""},
        // The own group wins, also before a 3GPP form.
        {"A20200101.1400-1415_x_20111110_1345.xml", "2011-11-10 13:45"},
        // Impossible dates and times, and what is not the 3GPP form.
        {"A20201301.1400-1415_n.xml", ""},
        {"A20200101.2500-1415_n.xml", ""},
        {"E20200101.1400-1415_n.xml", ""},
        {"xA20200101.1400-1415_n.xml", ""},
        {"A20200101.1400_n.xml", ""},
        {"A20200101-1415_n.xml", ""},
        {"A20200101.1400-14155_n.xml", ""},
        {"PM202007171301+020024C202007171207+0200-1215+0200_45678.xml", ""},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << row[0] << row[1];
}

void TstDriver::stamps()
{
    QFETCH(QString, name);
    QFETCH(QString, stamp);
    QCOMPARE(stamp_from_name(name).toString("yyyy-MM-dd hh:mm"), stamp);
}

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
