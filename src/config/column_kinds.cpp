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

unsigned char takes_of(const COLUMN_KIND &kind, const QString &argument)
{
    return kind.attribute_optional && !argument.isEmpty() ? TAKES_AT_START : kind.takes;
}
