#include "input_name.h"

#include <QRegularExpression>

#include "constants.h"

static QDateTime wall_clock(const QString &date, const QString &time)
{
    const QDate d = QDate::fromString(date, INPUT_DATE_STRING);
    const QTime t = QTime::fromString(time, INPUT_TIME_STRING);
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
