#ifndef STRANDOR_TESTS_LOG_CAPTURE_H
#define STRANDOR_TESTS_LOG_CAPTURE_H

#include <QRegularExpression>
#include <QTemporaryFile>

#include <unistd.h>

/// Catches what the event log writes to standard error while the object lives.
class LogCapture {
public:
    LogCapture() { file.open(); fflush(stderr); saved = dup(2); dup2(file.handle(), 2); }
    ~LogCapture() { release(); }

    /// Everything logged so far, as written.
    QString raw() { release(); file.seek(0); return QString::fromUtf8(file.readAll()); }
    /// The same without the "[pid] yyyy.MM.dd hh:mm:ss " prefix of each entry.
    QString text() { return raw().remove(QRegularExpression("^\\[\\d+\\] [\\d.]{10} [\\d:]{8} ", QRegularExpression::MultilineOption)); }

private:
    void release() { if (saved >= 0) { fflush(stderr); dup2(saved, 2); close(saved); saved = -1; } }
    QTemporaryFile file;
    int saved = -1;
};

#endif
