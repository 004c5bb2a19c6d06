#include "iso_time.h"

namespace {
/// Reads count digits at *at, moving on; false when there are not as many.
bool number(const char *&at, const char *end, int count, int *value)
{
    if (end - at < count)
        return false;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (at[i] < '0' || at[i] > '9')
            return false;
        n = n * 10 + (at[i] - '0');
    }
    at += count;
    *value = n;
    return true;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
} // namespace

bool ISO_TIME::parse(const char *text, size_t size)
{
    const char *at = text, *end = text + size;
    while (at != end && is_blank(*at))
        ++at;
    while (end != at && is_blank(end[-1]))
        --end;
    int year, month, day, hour, minute, second = 0, millisecond = 0;
    if (!number(at, end, 4, &year) || at == end || *at++ != '-' || !number(at, end, 2, &month) || at == end
        || *at++ != '-' || !number(at, end, 2, &day) || at == end || (*at != 'T' && *at != ' '))
        return false;
    ++at;
    if (!number(at, end, 2, &hour) || at == end || *at++ != ':' || !number(at, end, 2, &minute))
        return false;
    if (at != end && *at == ':') {
        ++at;
        if (!number(at, end, 2, &second))
            return false;
        if (at != end && (*at == '.' || *at == ',')) {
            ++at;
            int digits = 0;
            for (; at != end && *at >= '0' && *at <= '9'; ++at, ++digits) {
                if (digits < 3)
                    millisecond = millisecond * 10 + (*at - '0');
            }
            if (digits == 0)
                return false;
            for (; digits < 3; ++digits)
                millisecond *= 10;
        }
    }
    has_offset = at != end;
    offset_seconds = 0;
    if (has_offset && *at == 'Z') {
        ++at;
    } else if (has_offset) {
        const int sign = *at == '+' ? 1 : *at == '-' ? -1 : 0;
        int hours, minutes = 0;
        if (sign == 0 || !number(++at, end, 2, &hours))
            return false;
        if (at != end && *at == ':')
            ++at;
        if (at != end && !number(at, end, 2, &minutes))
            return false;
        if (hours > 23 || minutes > 59)
            return false;
        offset_seconds = sign * (hours * 3600 + minutes * 60);
    }
    date = QDate(year, month, day);
    time = QTime(hour, minute, second, millisecond);
    return at == end && date.isValid() && time.isValid();
}

QDateTime ISO_TIME::moment() const
{
    return has_offset ? QDateTime(date, time, Qt::OffsetFromUTC, offset_seconds) : QDateTime(date, time, Qt::LocalTime);
}

QDateTime ISO_TIME::wall_clock() const
{
    return QDateTime(date, QTime(time.hour(), time.minute()), Qt::UTC);
}
