#ifndef STRANDOR_CONFIG_TYPE_CODES_H
#define STRANDOR_CONFIG_TYPE_CODES_H

/// Token codes of the configuration language; tree nodes carry them as type and sub-type.
/// They live in a namespace of their own because the token ATTRIBUTE and the class
/// ATTRIBUTE share a name; the generated parser spells the same codes TOK_<name>.
namespace tok {
enum : int {
    QUOTED_STRING = 258,
    IDENTIFIER = 259,
    INTEGER = 260,
    GLOBALS = 261,
    VERSION = 262,
    FILE_MASK = 263,
    TIME_FORMAT = 264,
    COLUMN_SEPARATOR = 265,
    HEADER_SIZE_MAX = 266,
    INPUTFILE = 267,
    GENERATES = 268,
    MEASUREMENT = 269,
    MEASUREMENTNAME = 270,
    GRANULARITY = 271,
    H24 = 272,
    MIN15 = 273,
    EVENT = 274,
    MATCH = 275,
    AND = 276,
    NEEDS = 277,
    VOID = 278,
    POINTER = 279,
    COLUMNS = 280,
    ATTRIBUTE = 281,
    ATTRIBUTE_BOOL = 282,
    ATTRIBUTE_CONVERT = 283,
    ATTRIBUTE_REGEXP = 284,
    UTC_FILESTAMP = 285,
    MS_TO_UTC = 286,
    MS_TO_LOCAL = 287,
    STRING_TO_LOCAL = 288,
    STRING_TO_UTC = 289,
    ATTRIBUTE_ARG = 290,
    LISTATTRIBUTE = 291,
    LISTINDEX = 292,
    MAPATTRIBUTE = 293,
    /// Not a token: the look-up half of a MAPATTRIBUTE, the last child of its node.
    LOOKUP = 294,
    ABSENT_VALUES = 295,
    KEEP = 296,
    EMPTY = 297,
    AT_END = 298,
    OUTPUT_FORMAT = 299,
    TEXT = 300,
    TSV = 301,
    CSV = 302,
    COMPRESSION_LEVEL = 303,
    EMPTY_OUTPUTS = 304,
    SKIP = 305,
};
} // namespace tok

#endif
