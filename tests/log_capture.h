#ifndef STRANDOR_TESTS_LOG_CAPTURE_H
#define STRANDOR_TESTS_LOG_CAPTURE_H

// Catches what the event log writes to standard error during a test.

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryFile>

#include <unistd.h>

class LogCapture {
public:
    LogCapture()
    {
        file.open();
        fflush(stderr);
        saved = dup(2);
        dup2(file.handle(), 2);
    }
    ~LogCapture() { release(); }

    /// Everything logged so far, as written.
    QString raw()
    {
        release();
        QFile in(file.fileName());
        in.open(QIODevice::ReadOnly);
        return QString::fromUtf8(in.readAll());
    }

    /// The same without the "[pid] yyyy.MM.dd hh:mm:ss " prefix of each entry.
    QString text()
    {
        static const QRegularExpression prefix(QStringLiteral("^\\[\\d+\\] \\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d "),
                                               QRegularExpression::MultilineOption);
        return raw().remove(prefix);
    }

private:
    void release()
    {
        if (saved >= 0) {
            fflush(stderr);
            dup2(saved, 2);
            close(saved);
            saved = -1;
        }
    }
    QTemporaryFile file;
    int saved = -1;
};

#endif
