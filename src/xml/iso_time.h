#ifndef STRANDOR_XML_ISO_TIME_H
#define STRANDOR_XML_ISO_TIME_H

#include <QDateTime>

#include <cstddef>

/// A date and time as ISO 8601 writes it: yyyy-MM-dd, "T" or a blank, hh:mm, optional
/// :ss and fraction, and an optional offset ("Z", "+02:00", "+0200", "+02").
struct ISO_TIME {
    QDate date;
    QTime time;
    bool has_offset = false;
    int offset_seconds = 0;

    /// False for text that is no such date and time; blanks around it are allowed.
    bool parse(const char *text, size_t size);
    /// The moment it names: at its offset, or else in the machine's local time.
    QDateTime moment() const;
    /// The date, hour and minute as written, the offset not applied and the seconds
    /// dropped, held like a stamp from a file's name.
    QDateTime wall_clock() const;
};

#endif
