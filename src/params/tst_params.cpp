#include <QtTest>

#include <unistd.h>

#include "elog.h"
#include "gl_param.h"
#include "log_capture.h"

class TstParams : public QObject {
    Q_OBJECT
private slots:
    void entries_as_given();
};

void TstParams::entries_as_given()
{
    LogCapture capture;
    GL_param.mypid = 4711; // a worker's entries carry the pid it set after its fork
    elog.log("no line feed");
    elog.log("first\nsecond\n");
    elog.log(QString::fromUtf8("Süd\n"));
    GL_param.mypid = getpid();
    // The prefix comes once per entry: the second entry follows on the same line,
    // and the second line of a multi-line entry has none.
    const QRegularExpression entries(QString::fromUtf8(
        "^\\[4711\\] [0-9. :]{20}no line feed\\[4711\\] [0-9. :]{20}first\\nsecond\\n\\[4711\\] [0-9. :]{20}Süd\\n$"));
    const QString raw = capture.raw();
    QVERIFY2(entries.match(raw).hasMatch(), qPrintable(raw));
}

QTEST_APPLESS_MAIN(TstParams)
#include "tst_params.moc"
