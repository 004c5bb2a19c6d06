#include "input_name.h"

/// The number that digits [from, from + count) of text spell; the patterns give only digits.
static int number(const QString &text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i)
        value = value * 10 + (text[i].unicode() - '0');
    return value;
}

/// The date (yyyyMMdd) and time (hhmm) as written; read by hand rather than by
/// QDate::fromString, whose format parser each worker would otherwise set up for one name.
static QDateTime wall_clock(const QString &date, const QString &time)
{
    const QDate d(number(date, 0, 4), number(date, 4, 2), number(date, 6, 2));
    const QTime t(number(time, 0, 2), number(time, 2, 2));
    return d.isValid() && t.isValid() ? QDateTime(d, t, Qt::UTC) : QDateTime();
}

static bool digits(const QString &text, int from, int count)
{
    if (from < 0 || from + count > text.size())
        return false;
    for (int i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

/// An offset "+hhmm", or with "-" or "_" as some vendors write its sign, at i.
static bool offset_at(const QString &text, int i)
{
    return i < text.size() && (text[i] == '+' || text[i] == '-' || text[i] == '_') && digits(text, i + 1, 4);
}

/// The end of a 3GPP interval at i: "-", an optional yyyyMMdd., hhmm, an optional offset,
/// and no digit after. Each optional part is tried taken, then left, as a backtracking
/// matcher of the pattern would.
static bool interval_end_at(const QString &text, int i)
{
    if (i >= text.size() || text[i] != '-')
        return false;
    for (const bool date : {true, false}) {
        const int time = date ? i + 10 : i + 1;
        if ((date && !(digits(text, i + 1, 8) && time - 1 < text.size() && text[time - 1] == '.')) || !digits(text, time, 4))
            continue;
        for (const bool offset : {true, false}) {
            if (offset && !offset_at(text, time + 4))
                continue;
            const int after = time + 4 + (offset ? 5 : 0);
            if (!digits(text, after, 1))
                return true;
        }
    }
    return false;
}

QDateTime stamp_from_name(const QString &file_name)
{
    // Scanned by hand, for what RX_INPUT_FILE_DATE finds with its greedy ".*": the last
    // "_yyyyMMdd_hhmm" group of the name (a line feed in a name is a byte like any other)...
    for (int i = file_name.size() - 14; i >= 0; --i) {
        if (file_name[i] == '_' && digits(file_name, i + 1, 8) && file_name[i + 9] == '_' && digits(file_name, i + 10, 4))
            return wall_clock(file_name.mid(i + 1, 8), file_name.mid(i + 10, 4));
    }
    // ...or else the first begin of a 3GPP TS 32.432 name: at the start or after "_", the
    // type letter, yyyyMMdd.hhmm, an optional offset, then the end of the interval. No
    // regular expression: each worker would compile its own.
    for (int i = 0; i + 14 <= file_name.size(); ++i) {
        const QChar type = file_name[i];
        if ((i != 0 && file_name[i - 1] != '_') || type < 'A' || type > 'D' || !digits(file_name, i + 1, 8)
            || file_name[i + 9] != '.' || !digits(file_name, i + 10, 4))
            continue;
        if ((offset_at(file_name, i + 14) && interval_end_at(file_name, i + 19)) || interval_end_at(file_name, i + 14))
            return wall_clock(file_name.mid(i + 1, 8), file_name.mid(i + 10, 4));
    }
    return QDateTime();
}

QString source_stem(const QString &file_name)
{
    QString stem = file_name;
    if (stem.endsWith(QLatin1String(".gz")))
        stem.chop(3);
    const int dot = stem.lastIndexOf('.');
    if (dot > 0)
        stem.truncate(dot);
    return stem;
}
