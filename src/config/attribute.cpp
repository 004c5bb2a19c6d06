#include "attribute.h"

#include "column_kinds.h"
#include "constants.h"
#include "elog.h"

ATTRIBUTE::ATTRIBUTE()
    : next(nullptr), child(nullptr), type(0), sub_type(0), file(nullptr), regexp(nullptr), pointer_count(0), satisfied(false)
{
}

const ATTRIBUTE *ATTRIBUTE::find(int wanted) const
{
    for (const ATTRIBUTE *n = this; n; n = n->next) {
        if (n->type == wanted)
            return n;
        if (n->child) {
            if (const ATTRIBUTE *found = n->child->find(wanted))
                return found;
        }
    }
    return nullptr;
}

void ATTRIBUTE::clear_result()
{
    elog.debug(3, "CALLED: ATTRIBUTE::clear_result()\n");
    for (ATTRIBUTE *n = this; n; n = n->next) {
        if (n->type == TOK_COLUMNS) {
            for (ATTRIBUTE *col = n->child; col; col = col->next)
                col->result.clear();
        }
        if (n->child)
            n->child->clear_result();
    }
}

static QString granularity_line(int sub_type)
{
    switch (sub_type) {
    case TOK_H24: return "GRANULARITY: H24\n";
    case TOK_MIN15: return "GRANULARITY: MIN15\n";
    case TOK_EVENT: return "GRANULARITY: EVENT\n";
    default: return "ERROR: undefined subtype for GRANULARITY\n";
    }
}

/// A column's dump line: its kind's, with the argument and the name put in, in one pass, so
/// that a "%1" inside a user's text stays literal.
static QString column_line(const COLUMN_KIND &kind, const ATTRIBUTE *n)
{
    const QString format = QString::fromLatin1(kind.dump);
    QString line;
    for (int i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == '1' || format[i + 1] == '2')) {
            line += format[++i] == '1' ? n->argument : n->text;
            continue;
        }
        line += format[i];
    }
    return line + (n->at_end ? " AT_END\n" : "\n");
}

static QString dump_line(const ATTRIBUTE *n)
{
    if (const COLUMN_KIND *kind = column_kind(n->type, n->sub_type))
        return column_line(*kind, n);
    switch (n->type) {
    case TOK_INPUTFILE: return QString("INPUTFILE = %1\n").arg(n->text);
    case TOK_MEASUREMENT: return "MEASUREMENT\n";
    case TOK_MEASUREMENTNAME: return QString("MEASUREMENTNAME = %1\n").arg(n->text);
    case TOK_GRANULARITY: return granularity_line(n->sub_type);
    case TOK_MATCH: return "MATCH\n";
    case TOK_NEEDS: return "NEEDS\n";
    case TOK_VOID: return "VOID\n";
    case TOK_POINTER: return QString("POINTER = %1\n").arg(n->text);
    case TOK_COLUMNS: return "COLUMNS\n";
    case TOK_ATTRIBUTE_CONVERT: return "ERROR: undefined subtype for ATTRIBUTE_CONVERT\n";
    case TOK_LOOKUP: return QString("LOOKUP ( POINTER, \"%1\" )\n").arg(n->argument);
    case TOK_OR: return n->argument.isEmpty() ? "OR ( POINTER )\n" : QString("OR ( POINTER, \"%1\" )\n").arg(n->argument);
    case TOK_STAMP:
        return n->sub_type == TOK_MATCHING ? QString("STAMP MATCHING \"%1\"\n").arg(n->argument) : "STAMP\n";
    case TOK_KEEP: return QString("KEEP \"%1\" MATCHING \"%2\"\n").arg(n->text, n->argument);
    case TOK_DROP: return QString("DROP \"%1\" MATCHING \"%2\"\n").arg(n->text, n->argument);
    default: return QString("undefined ATTRIBUTE type = %1\n").arg(n->type);
    }
}

void ATTRIBUTE::dump(ATTRIBUTE *start, int indent)
{
    elog.debug(3, "CALLED: ATTRIBUTE::dump()\n");
    const QString prefix(indent, QChar(' '));
    for (ATTRIBUTE *n = start; n; n = n->next) {
        elog.log(prefix + dump_line(n));
        if (n->child)
            dump(n->child, indent + 4);
    }
}
