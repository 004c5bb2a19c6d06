#ifndef STRANDOR_OUTPUT_VALUE_H
#define STRANDOR_OUTPUT_VALUE_H

#include <QByteArray>

#include <cstddef>
#include <cstring>

/// Copies size bytes, inline for the few bytes of most values, where a call of memcpy
/// costs more than the copy. Reads and writes no byte outside the two ranges.
inline void copy_bytes(char *to, const char *from, size_t size)
{
    if (size >= 8 && size <= 16) {
        memcpy(to, from, 8);
        memcpy(to + size - 8, from + size - 8, 8);
    } else if (size >= 4 && size < 8) {
        memcpy(to, from, 4);
        memcpy(to + size - 4, from + size - 4, 4);
    } else if (size > 0 && size < 4) {
        to[0] = from[0];
        to[size / 2] = from[size / 2];
        to[size - 1] = from[size - 1];
    } else if (size > 16) {
        memcpy(to, from, size);
    }
}

/// A column's value as UTF-8 bytes, as it goes into the record. Set for every record of
/// a large file, so it keeps its memory when it is emptied or given a shorter value, and
/// allocates only to grow.
class VALUE {
public:
    VALUE() = default;
    ~VALUE();
    VALUE(const VALUE &) = delete;
    VALUE &operator=(const VALUE &) = delete;

    void assign(const char *data, size_t size)
    {
        if (size > capacity)
            grow(size);
        copy_bytes(bytes, data, size);
        length = size;
        set = true;
    }
    void assign(const QByteArray &data) { assign(data.constData(), size_t(data.size())); }
    /// The column has no value now: an empty field, or NULL where the format has one.
    void clear()
    {
        length = 0;
        set = false;
    }
    bool absent() const { return !set; }
    const char *data() const { return bytes; }
    size_t size() const { return length; }

    /// Bytes that may be read, and must be writable, past the end of a value copied by put().
    static const size_t SLACK = 32;
    /// Copies the value to to, in blocks of SLACK bytes; returns where the value ends there.
    /// Short values are the rule in a record, and a block costs less than a call of memcpy.
    char *put(char *to) const
    {
        memcpy(to, bytes, SLACK);
        for (size_t done = SLACK; done < length; done += SLACK)
            memcpy(to + done, bytes + done, SLACK);
        return to + length;
    }

private:
    void grow(size_t size);

    static char empty[SLACK];
    char *bytes = empty;
    size_t length = 0;
    size_t capacity = 0;
    bool set = false;
};

#endif
