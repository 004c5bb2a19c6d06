#ifndef STRANDOR_PARAMS_ELOG_H
#define STRANDOR_PARAMS_ELOG_H

#include <QFile>
#include <QString>
#include <QTextStream>

#include <cstdio>

/// The event log: every entry goes to standard error at once, stamped with pid and local time.
class ELOG {
public:
    ELOG();
    ~ELOG();

    void log(const QString &message);
    void log(const char *message);
    void debug(int level, const QString &message);
    void debug(int level, const char *message);

private:
    QFile qfid_error_log;
    QTextStream qts_error_log;
};

extern ELOG elog;

/// "HINT: <strerror(err)>": why the system call named by the line before failed.
void log_reason(int err);

#endif
