#include "description.h"

#include <libxml/xmlstring.h>
#include <libxml/dict.h>

#include <memory>

#include "attribute.h"
#include "column_kinds.h"
#include "global_parser.h"

void *interned_names()
{
    static xmlDictPtr names = xmlDictCreate();
    return names;
}

const void *intern_name(const QByteArray &spelling)
{
    return xmlDictLookup(static_cast<xmlDictPtr>(interned_names()), reinterpret_cast<const xmlChar *>(spelling.constData()),
                         spelling.size());
}

static std::vector<XML_NAME> resolve_path(const ATTRIBUTE *node)
{
    std::vector<XML_NAME> path;
    for (; node && node->type != tok::LOOKUP; node = node->next) {
        // Names are written as qualified names: the prefix goes up to the first colon.
        const QByteArray name = node->text.toUtf8();
        const int colon = name.indexOf(':');
        XML_NAME resolved;
        if (colon > 0) {
            resolved.prefix = intern_name(name.left(colon));
            resolved.local = intern_name(name.mid(colon + 1));
        } else {
            resolved.local = intern_name(name);
        }
        path.push_back(resolved);
    }
    return path;
}

/// Why a column's path cannot be followed, as the handler reports it when the column acts.
static const char *path_fault(const ATTRIBUTE *column)
{
    if (!column->child)
        return "ERROR: POINTER subelement expected\n";
    if (column->child->type != tok::POINTER)
        return "ERROR: type not POINTER\n";
    return nullptr;
}

/// A look-up column has both its paths: the entry path, then a LOOKUP node with its own.
static const char *map_fault(const ATTRIBUTE *column, const ATTRIBUTE *lookup)
{
    if (!column->child || column->child->type == tok::LOOKUP || !lookup)
        return "ERROR: POINTER subelement expected\n";
    const char *fault = path_fault(column);
    return fault ? fault : path_fault(lookup);
}

static PLAN_COLUMN compile_column(ATTRIBUTE *col, DESCRIPTION &description)
{
    PLAN_COLUMN column;
    column.node = col;
    column.kind = column_kind(col->type, col->sub_type);
    column.path = resolve_path(col->child);
    column.argument = col->argument.toUtf8();
    if (column.kind->has_path)
        column.path_fault = path_fault(col);
    if (col->type == tok::ATTRIBUTE_ARG || col->type == tok::MAPATTRIBUTE)
        column.attribute = intern_name(column.argument);
    if (col->type == tok::MAPATTRIBUTE) {
        ATTRIBUTE *lookup = nullptr;
        for (ATTRIBUTE *n = col->child; n; n = n->next)
            lookup = n->type == tok::LOOKUP ? n : lookup;
        column.path_fault = map_fault(col, lookup);
        if (!column.path.empty())
            column.parent_path.assign(column.path.begin(), column.path.end() - 1);
        if (lookup) {
            column.lookup_path = resolve_path(lookup->child);
            column.lookup_attribute = intern_name(lookup->argument.toUtf8());
        }
        description.starts_without_attributes = true;
    }
    // Reserved buffers keep their memory when emptied, so values allocate only to grow.
    col->result.reserve(16);
    column.list_text.reserve(64);
    column.pending_key.reserve(16);
    return column;
}

static std::unique_ptr<DESCRIPTION> compile(ATTRIBUTE *inputfile)
{
    auto description = std::make_unique<DESCRIPTION>();
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        MEASUREMENT_PLAN plan{m, nullptr, nullptr, {}, {}, {}, {}, {}, {}};
        if (m->type == tok::MEASUREMENT) {
            plan.columns = m->find(tok::COLUMNS);
            plan.match = m->find(tok::MATCH);
        }
        for (ATTRIBUTE *col = plan.columns ? plan.columns->child : nullptr; col; col = col->next)
            plan.column_list.push_back(compile_column(col, *description));
        for (ATTRIBUTE *n = plan.match ? plan.match->child : nullptr; n; n = n->next)
            plan.needs.push_back(PLAN_NEED{n, resolve_path(n->child)});
        description->plans.push_back(std::move(plan));
    }
    // Pointers into the column lists once these stay where they are.
    for (MEASUREMENT_PLAN &plan : description->plans) {
        for (PLAN_COLUMN &column : plan.column_list) {
            if (column.kind->takes & TAKES_AT_START)
                plan.start_columns.push_back(&column);
            if (column.kind->takes & TAKES_AT_END)
                plan.end_columns.push_back(&column);
            if (column.kind->field == FIELD::LIST_ITEM)
                plan.list_columns.push_back(&column);
            if (column.kind->field == FIELD::VALUE)
                plan.plain_fields.push_back(&column.node->result);
            else if (column.kind->field == FIELD::FILE_STAMP)
                plan.plain_fields.push_back(&description->file_stamp);
        }
        if (plan.plain_fields.size() != plan.column_list.size())
            plan.plain_fields.clear();
    }
    return description;
}

struct COMPILED {
    ATTRIBUTE *inputfile;
    int generation;
    std::unique_ptr<DESCRIPTION> description;
};
static std::vector<COMPILED> compiled;

void compile_descriptions(ATTRIBUTE *root)
{
    compiled.clear();
    for (ATTRIBUTE *n = root; n; n = n->next)
        compiled.push_back({n, configuration_generation(), compile(n)});
}

DESCRIPTION &begin_parse(ATTRIBUTE *inputfile)
{
    const int generation = configuration_generation();
    auto found = compiled.begin();
    while (found != compiled.end() && (found->inputfile != inputfile || found->generation != generation))
        ++found;
    if (found == compiled.end()) {
        compiled.push_back({inputfile, generation, compile(inputfile)});
        found = compiled.end() - 1;
    }
    DESCRIPTION &description = *found->description;
    for (MEASUREMENT_PLAN &plan : description.plans) {
        for (PLAN_COLUMN &column : plan.column_list) {
            column.list_text.clear();
            column.items.clear();
            column.pending_key.clear();
            column.key_pending = false;
            column.table.clear();
        }
    }
    return description;
}
