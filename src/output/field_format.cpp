#include "field_format.h"

#include <cstring>

FIELD_FORMAT::FIELD_FORMAT(OUTPUT_FORMAT format, char separator) : format(format), separator(separator)
{
    if (format == OUTPUT_FORMAT::TEXT)
        return;
    for (unsigned char c : {'\n', '\r', format == OUTPUT_FORMAT::TSV ? '\\' : '"', format == OUTPUT_FORMAT::TSV ? '\t' : '"'})
        special[c] = true;
    special[static_cast<unsigned char>(separator)] = true;
}

std::string_view FIELD_FORMAT::operator()(const char *data, size_t size, bool absent)
{
    const std::string_view field(size ? data : "", size);
    if (format == OUTPUT_FORMAT::TEXT || as_is(field.data(), size, absent))
        return field;
    if (format == OUTPUT_FORMAT::TSV) {
        if (absent)
            return "\\N";
        scratch.clear();
        for (char c : field) {
            const char *escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
            if (escape) {
                scratch += escape;
            } else {
                // Another separator stands for itself behind a backslash.
                if (c == separator)
                    scratch += '\\';
                scratch += c;
            }
        }
        return scratch;
    }
    scratch.assign(1, '"');
    for (char c : field) {
        if (c == '"')
            scratch += '"';
        scratch += c;
    }
    scratch += '"';
    return scratch;
}
