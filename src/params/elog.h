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

    /// Keeps further entries back, for an attempt whose messages may have to be dropped.
    void hold();
    /// Forgets the entries kept back so far; entries stay held.
    void drop_held();
    /// Writes the entries kept back and ends holding.
    void release();

private:
    QFile qfid_error_log;
    QTextStream qts_error_log;
    bool holding = false;
    /// Entries kept back; a long attempt spills them to an anonymous file.
    FILE *held = nullptr;
};

extern ELOG elog;

#endif
