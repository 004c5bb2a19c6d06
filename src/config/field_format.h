#ifndef STRANDOR_CONFIG_FIELD_FORMAT_H
#define STRANDOR_CONFIG_FIELD_FORMAT_H

#include <string>
#include <string_view>

#include "gl_param.h"

/// Puts a field as the output format wants it: TEXT as it stands, TSV escaped as
/// PostgreSQL's COPY, MySQL's LOAD DATA and ClickHouse read tab-separated text, CSV quoted
/// as RFC 4180 says.
class FIELD_FORMAT {
public:
    FIELD_FORMAT(OUTPUT_FORMAT format, char separator) : format(format), separator(separator) {}
    /// The field's bytes; absent when the column has no value. Valid until the next call.
    std::string_view operator()(const char *data, size_t size, bool absent);
    std::string_view operator()(std::string_view field, bool absent) { return (*this)(field.data(), field.size(), absent); }

private:
    OUTPUT_FORMAT format;
    char separator;
    std::string scratch;
};

#endif
