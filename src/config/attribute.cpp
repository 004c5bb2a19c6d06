#include "attribute.h"

#include "constants.h"
#include "elog.h"

ATTRIBUTE::ATTRIBUTE()
    : next(nullptr), child(nullptr), type(0), sub_type(0), file(nullptr), regexp(nullptr), pointer_count(0), satisfied(false)
{
}

bool is_column_type(int type)
{
    switch (type) {
    case tok::ATTRIBUTE:
    case tok::ATTRIBUTE_BOOL:
    case tok::ATTRIBUTE_CONVERT:
    case tok::ATTRIBUTE_REGEXP:
    case tok::UTC_FILESTAMP:
    case tok::ATTRIBUTE_ARG:
    case tok::LISTATTRIBUTE:
    case tok::LISTINDEX:
    case tok::MAPATTRIBUTE:
        return true;
    default:
        return false;
    }
}

ATTRIBUTE *ATTRIBUTE::find(int wanted)
{
    for (ATTRIBUTE *n = this; n; n = n->next) {
        if (n->type == wanted)
            return n;
        if (n->child) {
            if (ATTRIBUTE *found = n->child->find(wanted))
                return found;
        }
    }
    return nullptr;
}

void ATTRIBUTE::clear_result()
{
    elog.debug(3, "CALLED: ATTRIBUTE::clear_result()\n");
    for (ATTRIBUTE *n = this; n; n = n->next) {
        if (n->type == tok::COLUMNS) {
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
    case tok::H24: return "GRANULARITY: H24\n";
    case tok::MIN15: return "GRANULARITY: MIN15\n";
    case tok::EVENT: return "GRANULARITY: EVENT\n";
    default: return "ERROR: undefined subtype for GRANULARITY\n";
    }
}

static QString convert_line(const ATTRIBUTE *n)
{
    switch (n->sub_type) {
    case tok::MS_TO_UTC:
        return QString("ATTRIBUTE_CONVERT MS_TO_UTC( POINTER ) %1\n").arg(n->text);
    case tok::MS_TO_LOCAL:
        return QString("ATTRIBUTE_CONVERT MS_TO_LOCAL( POINTER ) %1\n").arg(n->text);
    case tok::STRING_TO_LOCAL:
        return QString("ATTRIBUTE_CONVERT STRING_TO_LOCAL( POINTER, %1 ) %2\n").arg(n->argument, n->text);
    case tok::STRING_TO_UTC:
        return QString("ATTRIBUTE_CONVERT STRING_TO_UTC( POINTER, %1 ) %2\n").arg(n->argument, n->text);
    default:
        return "ERROR: undefined subtype for ATTRIBUTE_CONVERT\n";
    }
}

// Two-value lines use the multi-argument arg(), so a "%1" inside a user's text stays literal.
static QString dump_line(const ATTRIBUTE *n)
{
    switch (n->type) {
    case tok::INPUTFILE: return QString("INPUTFILE = %1\n").arg(n->text);
    case tok::MEASUREMENT: return "MEASUREMENT\n";
    case tok::MEASUREMENTNAME: return QString("MEASUREMENTNAME = %1\n").arg(n->text);
    case tok::GRANULARITY: return granularity_line(n->sub_type);
    case tok::MATCH: return "MATCH\n";
    case tok::NEEDS: return "NEEDS\n";
    case tok::VOID: return "VOID\n";
    case tok::POINTER: return QString("POINTER = %1\n").arg(n->text);
    case tok::COLUMNS: return "COLUMNS\n";
    case tok::ATTRIBUTE: return QString("ATTRIBUTE ( POINTER ) %1\n").arg(n->text);
    case tok::ATTRIBUTE_BOOL:
        return QString("ATTRIBUTE_BOOL ( POINTER, \"%1\" ) %2\n").arg(n->argument, n->text);
    case tok::ATTRIBUTE_CONVERT: return convert_line(n);
    case tok::ATTRIBUTE_REGEXP:
        return QString("ATTRIBUTE_REGEXP ( POINTER, \"%1\" ) %2\n").arg(n->argument, n->text);
    case tok::UTC_FILESTAMP: return QString("UTC_FILESTAMP %1\n").arg(n->text);
    case tok::ATTRIBUTE_ARG:
        return QString("ATTRIBUTE_ARG ( POINTER, \"%1\" ) %2\n").arg(n->argument, n->text);
    case tok::LISTATTRIBUTE: return QString("LISTATTRIBUTE ( POINTER ) %1\n").arg(n->text);
    case tok::LISTINDEX: return QString("LISTINDEX %1\n").arg(n->text);
    case tok::MAPATTRIBUTE:
        return QString("MAPATTRIBUTE ( POINTER, \"%1\" ) ( LOOKUP ) %2\n").arg(n->argument, n->text);
    case tok::LOOKUP: return QString("LOOKUP ( POINTER, \"%1\" )\n").arg(n->argument);
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
