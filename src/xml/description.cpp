#include "description.h"

#include <libxml/xmlstring.h>
#include <libxml/dict.h>

#include <algorithm>
#include <memory>

#include <QRegExp>

#include "attribute.h"
#include "column_kinds.h"
#include "constants.h"
#include "field_format.h"
#include "gl_param.h"

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

const void *position_name()
{
    static const void *name = intern_name("#");
    return name;
}

static std::vector<XML_NAME> resolve_path(const ATTRIBUTE *node)
{
    std::vector<XML_NAME> path;
    for (; node && node->type == TOK_POINTER; node = node->next) {
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
    if (column->child->type != TOK_POINTER)
        return "ERROR: type not POINTER\n";
    return nullptr;
}

/// A look-up column has both its paths: the entry path, then a LOOKUP node with its own.
static const char *map_fault(const ATTRIBUTE *column, const ATTRIBUTE *lookup)
{
    if (!column->child || column->child->type == TOK_LOOKUP || !lookup)
        return "ERROR: POINTER subelement expected\n";
    const char *fault = path_fault(column);
    return fault ? fault : path_fault(lookup);
}

static PLAN_COLUMN compile_column(const ATTRIBUTE *col)
{
    PLAN_COLUMN column;
    column.node = col;
    column.kind = column_kind(col->type, col->sub_type);
    column.path = resolve_path(col->child);
    column.argument = col->argument.toUtf8();
    column.at_end = col->at_end;
    column.last = !col->next;
    column.takes = takes_of(*column.kind, col->argument);
    if (!column.path.empty())
        column.parent_path.assign(column.path.begin(), column.path.end() - 1);
    if (column.kind->has_path)
        column.path_fault = path_fault(col);
    // A column that acts at element starts reads the attribute its argument names.
    if (column.takes & TAKES_AT_START)
        column.attribute = intern_name(column.argument);
    if (col->type == TOK_ATTRIBUTE_REGEXP) {
        column.regexp = QRegExp(col->argument, Qt::CaseSensitive, QRegExp::RegExp);
        column.regexp.indexIn(QString()); // compiled here, once, not in every worker
    }
    if (col->type == TOK_MAPATTRIBUTE) {
        const ATTRIBUTE *lookup = nullptr;
        for (const ATTRIBUTE *n = col->child; n; n = n->next)
            lookup = n->type == TOK_LOOKUP ? n : lookup;
        column.path_fault = map_fault(col, lookup);
        if (lookup) {
            column.lookup_path = resolve_path(lookup->child);
            column.lookup_attribute = intern_name(lookup->argument.toUtf8());
        }
    }
    return column;
}

/// A further path of the column (an OR node): the same kind and value, its own path and
/// argument.
static PLAN_COLUMN compile_alternative(const PLAN_COLUMN &column, const ATTRIBUTE *alternative)
{
    PLAN_COLUMN own = column;
    own.path = resolve_path(alternative->child);
    own.parent_path.clear();
    if (!own.path.empty())
        own.parent_path.assign(own.path.begin(), own.path.end() - 1);
    own.path_fault = path_fault(alternative);
    own.argument = alternative->argument.toUtf8();
    own.takes = takes_of(*own.kind, alternative->argument);
    own.attribute = own.takes & TAKES_AT_START ? intern_name(own.argument) : nullptr;
    return own;
}

/// STAMP: the sources of a file's stamp in its content, or the pattern over its name.
static void compile_stamp(DESCRIPTION &description, const ATTRIBUTE *stamp)
{
    if (stamp->sub_type == TOK_MATCHING) {
        description.stamp_from = DESCRIPTION::STAMP_FROM::PATTERN;
        description.stamp_pattern = QRegExp(stamp->argument, Qt::CaseSensitive, QRegExp::RegExp);
        description.stamp_pattern.indexIn(QString()); // compiled here, once
        return;
    }
    description.stamp_from = DESCRIPTION::STAMP_FROM::CONTENT;
    for (const ATTRIBUTE *source = stamp->child; source; source = source->next) {
        STAMP_SOURCE own;
        for (const ATTRIBUTE *step = source->child; step && step->type == TOK_POINTER; step = step->next) {
            const QByteArray name = step->text.toUtf8();
            const int colon = name.indexOf(':');
            own.path.emplace_back(colon > 0 ? name.left(colon) : QByteArray(), colon > 0 ? name.mid(colon + 1) : name);
        }
        own.attribute = source->argument.toUtf8();
        description.stamp_sources.push_back(own);
    }
}

static const char *granularity_letter(int sub_type)
{
    switch (sub_type) {
    case TOK_H24: return "D";
    case TOK_MIN15: return "Q";
    case TOK_EVENT: return "E";
    default: return nullptr;
    }
}

/// What names the measurement's output: its own MEASUREMENTNAME and GRANULARITY.
static void compile_naming(MEASUREMENT_PLAN &plan)
{
    const ATTRIBUTE *m = plan.measurement;
    const ATTRIBUTE *name = m->child ? m->child->find(TOK_MEASUREMENTNAME) : nullptr;
    if (!name) {
        plan.naming_fault = "ERROR: no MEASUREMENTNAME specified\n";
        return;
    }
    plan.name = name->text;
    const ATTRIBUTE *granularity = m->child->find(TOK_GRANULARITY);
    if (!granularity) {
        plan.naming_fault = QString("ERROR: no GRANULARITY in MEASUREMENT %1 specified!\n").arg(name->text);
        return;
    }
    plan.granularity_letter = granularity_letter(granularity->sub_type);
    if (!plan.granularity_letter)
        plan.naming_fault = "ERROR: unknown GRANULARITY specified\n";
}

/// The entry traces that ATTRIBUTE::clear_result writes from node on: one for itself, and
/// those of the child list of each node of its list that has one.
static int clear_traces(const ATTRIBUTE *node)
{
    int traces = 1;
    for (const ATTRIBUTE *n = node; n; n = n->next)
        traces += n->child ? clear_traces(n->child) : 0;
    return traces;
}

/// The header line of the COLUMNS block found for the measurement, up to its first fault.
static void compile_header(MEASUREMENT_PLAN &plan, const RECORD_LAYOUT &layout)
{
    if (!plan.columns) {
        plan.header_fault = "ERROR: no COLUMNS{} found\n";
        return;
    }
    FIELD_FORMAT format(layout.format, layout.separator.isEmpty() ? 0 : layout.separator[0]);
    QByteArray header;
    for (const ATTRIBUTE *col = plan.columns->child; col; col = col->next) {
        if (col->type != TOK_ATTRIBUTE_REGEXP && !is_column_type(col->type)) {
            plan.header_fault = "ERROR: unknown element in block COLUMNS {} at PROCESS_FILE::open_output_files()\n";
            return;
        }
        const QByteArray name = col->text.toUtf8();
        const std::string_view field = format(name.constData(), size_t(name.size()), false);
        header.append(field.data(), int(field.size()));
        plan.column_names << col->text;
        if (col->text.size() > GL_param.max_header_size) {
            plan.header_fault = QString("ERROR: not allowed column size for \"%1\" > %2 chars\n")
                                    .arg(col->text)
                                    .arg(GL_param.max_header_size);
            return;
        }
        if (col->next)
            header += layout.separator;
    }
    plan.header = header + layout.record_separator;
    plan.clear_traces = clear_traces(plan.columns);
}

static void compile_match(MEASUREMENT_PLAN &plan)
{
    if (!plan.match)
        plan.match_fault = "ERROR: MATCH subelement expected\n";
    else if (!plan.match->child)
        plan.match_fault = "ERROR: VOID or NEEDS subelement expected\n";
}

/// Names of the measurement's own columns (every COLUMNS block of it) that no header can hold.
static QStringList long_names(const ATTRIBUTE *m)
{
    QStringList names;
    for (const ATTRIBUTE *columns = m->child; columns; columns = columns->next)
        for (const ATTRIBUTE *col = columns->type == TOK_COLUMNS ? columns->child : nullptr; col; col = col->next)
            if (col->text.size() > GL_param.max_header_size)
                names << col->text;
    return names;
}

/// The names whose elements a column acts on at their start: the last of each of its paths.
static std::vector<const void *> start_names(const PLAN_COLUMN &column)
{
    std::vector<const void *> names;
    const bool map = column.node->type == TOK_MAPATTRIBUTE;
    for (const std::vector<XML_NAME> *path : {map ? &column.parent_path : &column.path, &column.path, &column.lookup_path}) {
        if (!path->empty() && std::find(names.begin(), names.end(), path->back().local) == names.end())
            names.push_back(path->back().local);
    }
    return names;
}

static ELEMENT_ACTIONS &actions_named(DESCRIPTION &description, const void *local)
{
    for (size_t i = 0; i < description.name_slots.size(); ++i) {
        if (description.name_slots[i].first == local)
            return *description.named[i];
    }
    description.named.push_back(std::make_unique<ELEMENT_ACTIONS>());
    description.name_slots.emplace_back(local, description.named.back().get());
    return *description.named.back();
}

static END_ACTION &end_action(ELEMENT_ACTIONS &actions, const MEASUREMENT_PLAN &plan)
{
    if (actions.ends.empty() || actions.ends.back().plan != &plan)
        actions.ends.push_back(END_ACTION{&plan, {}, {}, plan.writes_at_every_end});
    return actions.ends.back();
}

/// Positions are counted for the elements at the end of path, by their name as it is there.
static void count_positions(DESCRIPTION &description, const std::vector<XML_NAME> &path)
{
    auto &counters = actions_named(description, path.back().local).counters;
    const auto counted = [&](const std::pair<const void *, int> &counter) {
        return counter.first == path.back().prefix;
    };
    if (std::find_if(counters.begin(), counters.end(), counted) == counters.end())
        counters.emplace_back(path.back().prefix, description.counters++);
}

/// Files each column and MATCH entry under the local name of the element it acts on,
/// keeping the order of measurements and columns in which they once were walked.
static void index_elements(DESCRIPTION &description)
{
    for (MEASUREMENT_PLAN &plan : description.plans) {
        for (PLAN_NEED &need : plan.needs) {
            if (need.path.empty())
                continue;
            need.slot = plan.path_needs.size();
            plan.path_needs.push_back(&need);
        }
        plan.writes_at_every_end = plan.path_needs.empty() || plan.needs.front().node->type == TOK_VOID;
        if (plan.writes_at_every_end)
            plan.path_needs.clear();
        if (GL_param.empty_absent_values) {
            std::vector<const PLAN_COLUMN *> all;
            for (const std::vector<PLAN_COLUMN> *list : {&plan.column_list, &plan.alternatives})
                for (const PLAN_COLUMN &column : *list)
                    all.push_back(&column);
            for (const PLAN_COLUMN *own : all) {
                const PLAN_COLUMN &column = *own;
                if (!column.kind->has_path || column.path_fault || column.node->type == TOK_MAPATTRIBUTE)
                    continue;
                for (const std::vector<XML_NAME> *path : {&column.path, &column.parent_path}) {
                    if (!path->empty())
                        actions_named(description, path->back().local).emptied.emplace_back(&column, path);
                }
            }
        }
        if (!plan.group_path.empty())
            actions_named(description, plan.group_path.back().local).groups.push_back(&plan);
        for (const PLAN_COLUMN *column : plan.start_columns) {
            if (column->path_fault) {
                description.faulty_start_columns.push_back(column);
                continue;
            }
            for (const void *local : start_names(*column))
                actions_named(description, local).start_columns.push_back(column);
            if (column->attribute == position_name())
                count_positions(description, column->path);
            if (column->lookup_attribute == position_name())
                count_positions(description, column->lookup_path);
        }
    }
    // Every name that an end concerns, before any end is filed: a measurement that writes
    // at every end needs its place in each of them.
    for (MEASUREMENT_PLAN &plan : description.plans) {
        for (const PLAN_COLUMN *column : plan.end_columns) {
            if (!column->path_fault)
                actions_named(description, column->path.back().local).wants_text = true;
        }
        for (const PLAN_NEED *need : plan.path_needs)
            actions_named(description, need->path.back().local);
    }
    for (MEASUREMENT_PLAN &plan : description.plans) {
        for (const PLAN_COLUMN *column : plan.end_columns) {
            if (column->path_fault)
                description.faulty_end_columns.push_back(column);
            else
                end_action(actions_named(description, column->path.back().local), plan).columns.push_back(column);
        }
        for (const PLAN_NEED *need : plan.path_needs) {
            END_ACTION &action = end_action(actions_named(description, need->path.back().local), plan);
            action.needs.push_back(need);
            action.may_write = true;
        }
        if (!plan.group_path.empty())
            end_action(actions_named(description, plan.group_path.back().local), plan).ends_group = true;
        if (plan.writes_at_every_end) {
            end_action(description.other, plan);
            for (auto &actions : description.named)
                end_action(*actions, plan);
        }
    }
    description.checks_starts = description.counters != 0 || !description.faulty_start_columns.empty();
    description.fails_at_end = !description.faulty_end_columns.empty();
    for (auto &actions : description.named)
        actions->acts_at_start = !actions->emptied.empty() || !actions->start_columns.empty() || !actions->groups.empty();
    // The look-up table, at most half full.
    std::vector<std::pair<const void *, const ELEMENT_ACTIONS *>> names;
    names.swap(description.name_slots);
    size_t size = 4;
    while (size < 2 * names.size())
        size *= 2;
    description.name_slots.assign(size, {nullptr, nullptr});
    for (const auto &name : names) {
        size_t i = description.slot(name.first);
        while (description.name_slots[i].first)
            i = (i + 1) & (size - 1);
        description.name_slots[i] = name;
    }
}

static RECORD_LAYOUT record_layout()
{
    RECORD_LAYOUT layout;
    layout.separator = GL_param.column_separator.toUtf8();
    layout.record_separator = DEFAULT_RECORD_SEPARATOR.toUtf8();
    layout.format = GL_param.output_format;
    layout.time_format = GL_param.time_format;
    return layout;
}

static std::unique_ptr<const DESCRIPTION> compile(const ATTRIBUTE *inputfile)
{
    auto description = std::make_unique<DESCRIPTION>();
    description->inputfile = inputfile;
    description->name_pattern = QRegExp(inputfile->text, Qt::CaseSensitive, QRegExp::RegExp);
    description->name_pattern.indexIn(QString()); // compiled here, once, not in every worker
    description->layout = record_layout();
    for (const ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        if (m->type == TOK_STAMP) {
            compile_stamp(*description, m);
            continue;
        }
        MEASUREMENT_PLAN plan;
        plan.measurement = m;
        plan.index = description->plans.size();
        if (m->type == TOK_MEASUREMENT) {
            plan.columns = m->find(TOK_COLUMNS);
            plan.match = m->find(TOK_MATCH);
        }
        for (const ATTRIBUTE *col = plan.columns ? plan.columns->child : nullptr; col; col = col->next) {
            plan.column_list.push_back(compile_column(col));
            plan.column_list.back().slot = description->column_count++;
            for (const ATTRIBUTE *n = col->child; n; n = n->next) {
                if (n->type == TOK_OR)
                    plan.alternatives.push_back(compile_alternative(plan.column_list.back(), n));
            }
        }
        for (const ATTRIBUTE *n = plan.match ? plan.match->child : nullptr; n; n = n->next)
            plan.needs.push_back(PLAN_NEED{n, resolve_path(n->child)});
        if (m->type == TOK_MEASUREMENT) {
            compile_naming(plan);
            compile_header(plan, description->layout);
            compile_match(plan);
            plan.long_names = long_names(m);
        }
        description->plans.push_back(std::move(plan));
    }
    // Pointers into the column lists once these stay where they are.
    for (MEASUREMENT_PLAN &plan : description->plans) {
        for (const ATTRIBUTE *n = plan.measurement->child; n; n = n->next) {
            if (n->type != TOK_KEEP && n->type != TOK_DROP)
                continue;
            for (const PLAN_COLUMN &column : plan.column_list) {
                if (column.node->text == n->text) {
                    plan.filters.push_back({&column, QRegExp(n->argument, Qt::CaseSensitive, QRegExp::RegExp), n->type == TOK_KEEP});
                    plan.filters.back().pattern.indexIn(QString()); // compiled here, once
                    break;
                }
            }
        }
        size_t plain = 0;
        for (const PLAN_COLUMN &column : plan.column_list) {
            if (column.takes & TAKES_AT_START)
                plan.start_columns.push_back(&column);
            if (column.takes & TAKES_AT_END)
                plan.end_columns.push_back(&column);
            if (column.kind->field == FIELD::LIST_ITEM)
                plan.list_columns.push_back(&column);
            if (column.at_end && plan.group_path.empty() && !column.path_fault) {
                const std::vector<XML_NAME> &own = column.node->type == TOK_MAPATTRIBUTE ? column.lookup_path : column.path;
                plan.group_path.assign(own.begin(), own.end() - 1);
            }
            plain += column.kind->field == FIELD::VALUE || column.kind->field == FIELD::FILE_STAMP;
        }
        // A column's further paths act after it.
        for (const PLAN_COLUMN &column : plan.alternatives) {
            if (column.takes & TAKES_AT_START)
                plan.start_columns.push_back(&column);
            if (column.takes & TAKES_AT_END)
                plan.end_columns.push_back(&column);
        }
        // Records with AT_END columns may be held: written by the general path.
        plan.plain = plain != 0 && plain == plan.column_list.size() && plan.group_path.empty() && plan.filters.empty();
    }
    index_elements(*description);
    return description;
}

DESCRIPTIONS::DESCRIPTIONS(const ATTRIBUTE *root)
{
    for (const ATTRIBUTE *n = root; n; n = n->next) {
        list.push_back(compile(n));
        stamps = stamps || list.back()->stamp_from != DESCRIPTION::STAMP_FROM::NAME;
    }
}

DESCRIPTIONS::~DESCRIPTIONS() = default;
