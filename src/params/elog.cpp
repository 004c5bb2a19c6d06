#include "elog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "gl_param.h"
#include "name_codec.h"

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

/// Whether text[i] may stand in an entry as it is.
static bool is_plain(const QString &text, int i)
{
    const ushort c = text.at(i).unicode();
    return (c >= 0x20 || c == '\t') && (c < 0x7f || c >= 0xa0) && kept_byte(text, i) < 0;
}

/// The text with what must not stand raw in the log escaped. A tab stays: it ends no line
/// and the parameter dump shows the default column separator so. Control characters above
/// 0x7f are written as their UTF-8 bytes, so that every \xNN is a byte of the original.
static QString printable(const QString &text, bool keep_line_feeds)
{
    const int end = keep_line_feeds || !text.endsWith('\n') ? text.size() : text.size() - 1;
    int i = 0;
    while (i < end && is_plain(text, i))
        ++i;
    if (i == end)
        return text;
    QString out = text.left(i);
    for (; i < end; ++i) {
        const QChar c = text.at(i);
        const int byte = kept_byte(text, i);
        if (byte >= 0)
            out += QString::asprintf("\\x%02X", byte);
        else if (is_plain(text, i) || (c == '\n' && keep_line_feeds))
            out += c;
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c.unicode() < 0x80)
            out += QString::asprintf("\\x%02X", c.unicode());
        else
            out += QString::asprintf("\\x%02X\\x%02X", 0xc0 | c.unicode() >> 6, 0x80 | (c.unicode() & 0x3f));
    }
    return out + text.mid(end);
}

void ELOG::write(const QString &text, bool keep_line_feeds)
{
    // "[pid] " and the local time, as QDateTime would write it, at a fraction of its cost.
    char prefix[64];
    int size = snprintf(prefix, sizeof prefix, "[%d] ", GL_param.mypid);
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local))
        size += int(strftime(prefix + size, sizeof prefix - size_t(size), "%Y.%m.%d %H:%M:%S ", &local));
    qts_error_log << QLatin1String(prefix, size) << printable(text, keep_line_feeds);
    qts_error_log.flush();
}

void ELOG::log(const QString &message)
{
    write(message, false);
}

void ELOG::log_lines(const QString &text)
{
    write(text, true);
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


QString system_reason(int err)
{
    return err == NOT_REGULAR_FILE ? QString("not a regular file") : QString::fromLocal8Bit(strerror(err));
}

void log_reason(int err)
{
    elog.log(QString("HINT: %1\n").arg(system_reason(err)));
}
