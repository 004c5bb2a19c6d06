#include "input_name.h"

#include <QRegularExpression>

#include "constants.h"

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

QDateTime stamp_from_name(const QString &file_name)
{
    // A Perl-style engine: its greedy ".*" takes the last stamp group of the name,
    // where QRegExp's captures would take the first.
    // A file name may hold a line feed, which "." must match as any other byte.
    static const QRegularExpression own(RX_INPUT_FILE_DATE, QRegularExpression::DotMatchesEverythingOption);
    // Type letter, begin date and time, optional offset, "-", optional end date, end
    // time, optional offset. Some vendors write an offset's sign as "_" ("0700_0100").
    static const QRegularExpression three_gpp(QStringLiteral(
        "(?:^|_)[ABCD]([0-9]{8})\\.([0-9]{4})(?:[+_-][0-9]{4})?-(?:[0-9]{8}\\.)?[0-9]{4}"
        "(?:[+_-][0-9]{4})?(?![0-9])"));
    QRegularExpressionMatch found = own.match(file_name);
    if (!found.hasMatch())
        found = three_gpp.match(file_name);
    return found.hasMatch() ? wall_clock(found.captured(1), found.captured(2)) : QDateTime();
}

void prepare_name_patterns()
{
    stamp_from_name(QString());
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
