#ifndef STRANDOR_PARAMS_ELOG_H
#define STRANDOR_PARAMS_ELOG_H

#include <QFile>
#include <QString>
#include <QTextStream>

#include <cstdio>

#include "gl_param.h"

/// The event log: every entry goes to standard error at once, stamped with pid and local time.
/// An entry is one line, whatever names or texts it holds: a line feed before its last
/// character, any other control character but a tab, and a byte of a name that is not
/// UTF-8 are written escaped (\n, \r, \x1B, \xE9).
class ELOG {
public:
    ELOG();
    ~ELOG();

    void log(const QString &message);
    void log(const char *message);
    /// An entry of several lines, escaped as log() does but for its line feeds; for fixed
    /// texts only (the banner, the hint to -h).
    void log_lines(const QString &text);
    void debug(int level, const QString &message);
    /// Checked here, before any conversion: traces sit on hot paths and are rarely shown.
    void debug(int level, const char *message)
    {
        if (GL_param.debug_level >= level)
            log(message);
    }

private:
    void write(const QString &text, bool keep_line_feeds);

    QFile qfid_error_log;
    QTextStream qts_error_log;
};

extern ELOG elog;

/// An errno-like reason of our own: a path names something other than a regular file.
const int NOT_REGULAR_FILE = -1000;
/// strerror(err), or the text of NOT_REGULAR_FILE.
QString system_reason(int err);
/// "HINT: <system_reason(err)>": why the system call named by the line before failed.
void log_reason(int err);

#endif
