#include "column_kinds.h"

const COLUMN_KIND *column_kind(int type, int sub_type)
{
    for (const COLUMN_KIND &kind : COLUMN_KINDS) {
        if (kind.token == type && (kind.sub_type == 0 || kind.sub_type == sub_type))
            return &kind;
    }
    return nullptr;
}

bool is_column_type(int type)
{
    return is_kind_token(type);
}

// Every column keyword of the grammar has its row in the table of kinds, and every row's
// token is a column keyword of the grammar.
constexpr int GRAMMAR_COLUMN_TOKENS[] = {TOK_ATTRIBUTE, TOK_ATTRIBUTE_BOOL, TOK_ATTRIBUTE_CONVERT,
    TOK_ATTRIBUTE_REGEXP, TOK_UTC_FILESTAMP, TOK_ATTRIBUTE_ARG, TOK_LISTATTRIBUTE, TOK_LISTINDEX, TOK_MAPATTRIBUTE};
constexpr bool kinds_match_grammar()
{
    for (int token : GRAMMAR_COLUMN_TOKENS) {
        if (!is_kind_token(token))
            return false;
    }
    for (const COLUMN_KIND &kind : COLUMN_KINDS) {
        bool found = false;
        for (int token : GRAMMAR_COLUMN_TOKENS)
            found = found || token == kind.token;
        if (!found)
            return false;
    }
    return true;
}
static_assert(kinds_match_grammar(), "the table of column kinds and the grammar's column keywords differ");
