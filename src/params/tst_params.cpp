#include <QtTest>

#include <unistd.h>

#include "elog.h"
#include "gl_param.h"
#include "log_capture.h"

class TstParams : public QObject {
    Q_OBJECT
private slots:
    void entry_format();
    void debug_gating_data();
    void debug_gating();
    void entries_as_given();
};

void TstParams::entry_format()
{
    LogCapture capture;
    const QDateTime before = QDateTime::currentDateTime();
    elog.log(QString("INFO: two\n"));
    const QDateTime after = QDateTime::currentDateTime();
    const QString line = capture.raw();
    // "[pid] yyyy.MM.dd hh:mm:ss message", 24-hour clock.
    const QRegularExpression format("^\\[(\\d+)\\] (\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d) INFO: two\\n$");
    const QRegularExpressionMatch match = format.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(1).toInt(), int(getpid()));
    const QDateTime stamp = QDateTime::fromString(match.captured(2), "yyyy.MM.dd hh:mm:ss");
    QVERIFY(stamp >= before.addSecs(-1) && stamp <= after.addSecs(1));

    // A worker's entries carry the pid it set after its fork.
    GL_param.mypid = 4711;
    LogCapture worker;
    elog.log("x\n");
    QVERIFY(worker.raw().startsWith("[4711] "));
    GL_param.mypid = getpid();
}

void TstParams::debug_gating_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("log");
    QTest::newRow("0") << 0 << "always\n";
    QTest::newRow("1") << 1 << "always\none\n";
    QTest::newRow("3") << 3 << "always\none\nthree\n";
    QTest::newRow("5") << 5 << "always\none\nthree\nfive\n";
}

void TstParams::debug_gating()
{
    QFETCH(int, level);
    QFETCH(QString, log);
    GL_param.debug_level = level;
    LogCapture capture;
    elog.log("always\n");
    elog.debug(1, "one\n");
    elog.debug(3, QString("three\n"));
    elog.debug(5, "five\n");
    QCOMPARE(capture.text(), log);
    GL_param.debug_level = 0;
}

void TstParams::entries_as_given()
{
    LogCapture capture;
    elog.log("no line feed");
    elog.log("first\nsecond\n");
    elog.log(QString::fromUtf8("Süd\n"));
    // The prefix comes once per entry: the second entry follows on the same line,
    // and the second line of a multi-line entry has none.
    const QRegularExpression entries(QString::fromUtf8(
        "^\\[\\d+\\] [0-9. :]{20}no line feed\\[\\d+\\] [0-9. :]{20}first\\nsecond\\n\\[\\d+\\] [0-9. :]{20}Süd\\n$"));
    const QString raw = capture.raw();
    QVERIFY2(entries.match(raw).hasMatch(), qPrintable(raw));
}

QTEST_APPLESS_MAIN(TstParams)
#include "tst_params.moc"
