#include "elog.h"

#include <QDateTime>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

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
    if (holding) {
        const QByteArray entry = (prefix + message).toLocal8Bit();
        fwrite(entry.constData(), 1, size_t(entry.size()), held);
        return;
    }
    qts_error_log << prefix << message;
    qts_error_log.flush();
}

/// One write() where the system allows, so that the bytes stay together.
static void write_all(const char *data, int size)
{
    while (size > 0) {
        const ssize_t n = ::write(2, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= int(n);
    }
}

void ELOG::hold()
{
    if (!held)
        held = tmpfile();
    holding = held != nullptr;
}

void ELOG::drop_held()
{
    if (held) {
        fflush(held);
        if (ftruncate(fileno(held), 0) == 0)
            rewind(held);
    }
}

void ELOG::release()
{
    if (!holding)
        return;
    holding = false;
    rewind(held);
    // Written in pieces that end with whole entries, so that entries of other processes
    // writing to the same stream fall between entries, never into one.
    QByteArray piece;
    static char buffer[1 << 20];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, held)) > 0) {
        piece.append(buffer, int(n));
        const int end = piece.lastIndexOf("\n[");
        if (end >= 0) {
            write_all(piece.constData(), end + 1);
            piece.remove(0, end + 1);
        }
    }
    write_all(piece.constData(), piece.size());
    fclose(held);
    held = nullptr;
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
