#ifndef STRANDOR_CONFIG_COLUMN_KINDS_H
#define STRANDOR_CONFIG_COLUMN_KINDS_H

#include <QString>

#include "config_parser.hpp"

/// When a column takes its value as the elements of a file go by: bits of TAKES_AT_START
/// and TAKES_AT_END, or neither for a column whose value comes from elsewhere.
enum : unsigned char { TAKES_NEVER = 0, TAKES_AT_START = 1, TAKES_AT_END = 2 };

/// What a column puts into its record.
enum class FIELD : char { VALUE, FILE_STAMP, LIST_ITEM, LIST_INDEX };

/// One kind of column. The dump, the checks of a description and the handler's dispatch
/// read this table. A new kind is a row here, a keyword in the scanner, a rule in the
/// grammar, and the computation of its value in XMLInputHandler::evaluate_column.
struct COLUMN_KIND {
    int token;
    /// ATTRIBUTE_CONVERT's conversions are kinds of their own; 0 for the other kinds.
    int sub_type;
    /// Written with an element path, which the column's POINTER children hold.
    bool has_path;
    unsigned char takes;
    FIELD field;
    /// Its line in the description dump: %1 stands for its argument, %2 for its name.
    const char *dump;
    /// With an attribute named, it reads that attribute at the element's start instead.
    bool attribute_optional = false;
};

constexpr COLUMN_KIND COLUMN_KINDS[] = {
    {TOK_ATTRIBUTE, 0, true, TAKES_AT_END, FIELD::VALUE, "ATTRIBUTE ( POINTER ) %2"},
    {TOK_ATTRIBUTE_BOOL, 0, true, TAKES_AT_END, FIELD::VALUE, "ATTRIBUTE_BOOL ( POINTER, \"%1\" ) %2"},
    {TOK_ATTRIBUTE_CONVERT, TOK_MS_TO_UTC, true, TAKES_AT_END, FIELD::VALUE, "ATTRIBUTE_CONVERT MS_TO_UTC( POINTER ) %2"},
    {TOK_ATTRIBUTE_CONVERT, TOK_MS_TO_LOCAL, true, TAKES_AT_END, FIELD::VALUE, "ATTRIBUTE_CONVERT MS_TO_LOCAL( POINTER ) %2"},
    {TOK_ATTRIBUTE_CONVERT, TOK_STRING_TO_LOCAL, true, TAKES_AT_END, FIELD::VALUE,
     "ATTRIBUTE_CONVERT STRING_TO_LOCAL( POINTER, %1 ) %2"},
    {TOK_ATTRIBUTE_CONVERT, TOK_STRING_TO_UTC, true, TAKES_AT_END, FIELD::VALUE,
     "ATTRIBUTE_CONVERT STRING_TO_UTC( POINTER, %1 ) %2"},
    {TOK_ATTRIBUTE_CONVERT, TOK_ISO8601_TO_UTC, true, TAKES_AT_END, FIELD::VALUE,
     "ATTRIBUTE_CONVERT ISO8601_TO_UTC( POINTER, \"%1\" ) %2", true},
    {TOK_ATTRIBUTE_CONVERT, TOK_ISO8601_TO_LOCAL, true, TAKES_AT_END, FIELD::VALUE,
     "ATTRIBUTE_CONVERT ISO8601_TO_LOCAL( POINTER, \"%1\" ) %2", true},
    {TOK_ATTRIBUTE_REGEXP, 0, true, TAKES_AT_END, FIELD::VALUE, "ATTRIBUTE_REGEXP ( POINTER, \"%1\" ) %2"},
    {TOK_UTC_FILESTAMP, 0, false, TAKES_NEVER, FIELD::FILE_STAMP, "UTC_FILESTAMP %2"},
    {TOK_ATTRIBUTE_ARG, 0, true, TAKES_AT_START, FIELD::VALUE, "ATTRIBUTE_ARG ( POINTER, \"%1\" ) %2"},
    {TOK_LISTATTRIBUTE, 0, true, TAKES_AT_END, FIELD::LIST_ITEM, "LISTATTRIBUTE ( POINTER ) %2"},
    {TOK_LISTINDEX, 0, false, TAKES_NEVER, FIELD::LIST_INDEX, "LISTINDEX %2"},
    // The entry path, then a LOOKUP node with the look-up path: a table filled at element
    // ends and read at element starts.
    {TOK_MAPATTRIBUTE, 0, true, TAKES_AT_START | TAKES_AT_END, FIELD::VALUE,
     "MAPATTRIBUTE ( POINTER, \"%1\" ) ( LOOKUP ) %2"},
};

/// When a column of that kind with that argument takes its value.
unsigned char takes_of(const COLUMN_KIND &kind, const QString &argument);

/// The kind of a column node, or nullptr for a node that is no column, or a conversion
/// that does not exist.
const COLUMN_KIND *column_kind(int type, int sub_type);
/// True for the types that may stand in a COLUMNS block.
bool is_column_type(int type);

/// The tokens that have a row in the table.
constexpr bool is_kind_token(int token)
{
    for (const COLUMN_KIND &kind : COLUMN_KINDS) {
        if (kind.token == token)
            return true;
    }
    return false;
}

#endif
