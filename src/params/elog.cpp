#include "elog.h"

#include <QDateTime>

#include <cstdio>
#include <cstring>

#include "gl_param.h"

ELOG::ELOG()
{
    if (!qfid_error_log.open(stderr, QIODevice::WriteOnly)) {
        static const char msg[] = "ERROR: qfid_error_log.open( stderr, QIODevice::Append )\n";
        fwrite(msg, 1, sizeof msg - 1, stderr);
    }
    qts_error_log.setDevice(&qfid_error_log);
}

ELOG::~ELOG()
{
    qfid_error_log.close();
}

void ELOG::log(const QString &message)
{
    const QString prefix = "[" + QString::number(GL_param.mypid) + "] "
                           + QDateTime::currentDateTime().toString("yyyy.MM.dd hh:mm:ss ");
    qts_error_log << prefix << message;
    qts_error_log.flush();
}

void ELOG::log(const char *message)
{
    log(QString::fromLatin1(message));
}

void ELOG::debug(int level, const QString &message)
{
    if (GL_param.debug_level >= level)
        log(message);
}

void ELOG::debug(int level, const char *message)
{
    // Checked before the conversion: traces sit on hot paths and are rarely shown.
    if (GL_param.debug_level >= level)
        log(QString::fromLatin1(message));
}

void log_reason(int err)
{
    elog.log(QString("HINT: %1\n").arg(QString::fromLocal8Bit(strerror(err))));
}
