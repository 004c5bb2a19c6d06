#include "field_format.h"

#include <cstring>

std::string_view FIELD_FORMAT::operator()(const char *data, size_t size, bool absent)
{
    const std::string_view field(size ? data : "", size);
    if (format == OUTPUT_FORMAT::TEXT)
        return field;
    if (format == OUTPUT_FORMAT::TSV) {
        if (absent)
            return "\\N";
        // Most values hold none of the bytes that need a backslash.
        const char special[] = {'\\', '\t', '\n', '\r', separator, 0};
        if (field.find_first_of(special, 0, sizeof special - 1) == std::string_view::npos)
            return field;
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
    const char special[] = {'"', '\n', '\r', separator, 0};
    if (field.find_first_of(special, 0, sizeof special - 1) == std::string_view::npos)
        return field;
    scratch.assign(1, '"');
    for (char c : field) {
        if (c == '"')
            scratch += '"';
        scratch += c;
    }
    scratch += '"';
    return scratch;
}
