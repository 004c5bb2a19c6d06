#ifndef STRANDOR_OUTPUT_FIELD_FORMAT_H
#define STRANDOR_OUTPUT_FIELD_FORMAT_H

#include <string>
#include <string_view>

#include "gl_param.h"

/// Puts a field as the output format wants it: TEXT as it stands, TSV escaped as
/// PostgreSQL's COPY, MySQL's LOAD DATA and ClickHouse read tab-separated text, CSV quoted
/// as RFC 4180 says.
class FIELD_FORMAT {
public:
    FIELD_FORMAT(OUTPUT_FORMAT format, char separator);
    /// Whether the field goes out as it stands: always in TEXT, mostly in the others.
    bool as_is(const char *data, size_t size, bool absent) const
    {
        if (absent && format == OUTPUT_FORMAT::TSV)
            return false;
        for (const char *end = data + size; data != end; ++data) {
            if (special[static_cast<unsigned char>(*data)])
                return false;
        }
        return true;
    }
    /// The field's bytes; absent when the column has no value. Valid until the next call.
    std::string_view operator()(const char *data, size_t size, bool absent);
    std::string_view operator()(std::string_view field, bool absent) { return (*this)(field.data(), field.size(), absent); }

private:
    OUTPUT_FORMAT format;
    char separator;
    /// The bytes that the format escapes or quotes.
    bool special[256] = {};
    std::string scratch;
};

#endif
