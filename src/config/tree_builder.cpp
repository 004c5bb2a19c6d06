#include "tree_builder.h"

#include <QRegExp>

#include <cstdlib>

#include "attribute.h"
#include "elog.h"
#include "gl_param.h"
#include "global_parser.h"
#include "config_parser.hpp"
#include "column_kinds.h"
#include "data_file.h"

static bool strings_utf8 = false;

void set_strings_utf8(bool utf8)
{
    strings_utf8 = utf8;
}

QString unquote(char *text)
{
    QString value = strings_utf8 ? QString::fromUtf8(text) : QString::fromLatin1(text);
    free(text);
    value.replace(QChar('"'), QString(), Qt::CaseSensitive);
    return value;
}

ATTRIBUTE *new_node(int type, ATTRIBUTE *child)
{
    auto *node = new ATTRIBUTE;
    node->type = type;
    node->child = child;
    node->line = GL_param.line_number;
    return node;
}

ATTRIBUTE *new_node(int type, const QString &text, ATTRIBUTE *child)
{
    ATTRIBUTE *node = new_node(type, child);
    node->text = text;
    return node;
}

ATTRIBUTE *new_node(int type, int sub_type, const QString &text, const QString &argument,
                    ATTRIBUTE *child)
{
    ATTRIBUTE *node = new_node(type, text, child);
    node->sub_type = sub_type;
    node->argument = argument;
    return node;
}

ATTRIBUTE *append(ATTRIBUTE *list, ATTRIBUTE *item)
{
    if (!list)
        return item;
    ATTRIBUTE *last = list;
    while (last->next)
        last = last->next;
    last->next = item;
    return list;
}

ATTRIBUTE *iso_column(int sub_type, const QString &name, ATTRIBUTE *sources)
{
    ATTRIBUTE *first = sources;
    ATTRIBUTE *column = new_node(TOK_ATTRIBUTE_CONVERT, sub_type, name, first->argument, first->child);
    ATTRIBUTE *others = first->next;
    first->child = nullptr;
    first->next = nullptr;
    free_tree(first);
    column->child = append(column->child, others);
    return column;
}

void free_tree(ATTRIBUTE *node)
{
    while (node) {
        ATTRIBUTE *next = node->next;
        free_tree(node->child);
        delete node->file;
        delete node->regexp;
        delete node;
        node = next;
    }
}

/// A pattern that QRegExp cannot compile would refuse every file at run time, each as
/// matching no description.
static bool pattern_valid(const QString &pattern, int line)
{
    const QRegExp compiled(pattern, Qt::CaseSensitive, QRegExp::RegExp);
    if (compiled.isValid())
        return true;
    elog.log(QString("ERROR: invalid regular expression \"%1\" in line %2: %3\n").arg(pattern).arg(line).arg(compiled.errorString()));
    return false;
}

/// An AT_END column waits for the end of its group: the element of its path less the last
/// step, the same for every AT_END column of a measurement. group is that of the first.
static bool at_end_valid(const ATTRIBUTE *col, QString *group)
{
    const ATTRIBUTE *path = col->child;
    if (col->type == TOK_MAPATTRIBUTE) { // its value comes with the look-up
        while (path && path->type != TOK_LOOKUP)
            path = path->next;
        path = path ? path->child : nullptr;
    }
    const COLUMN_KIND *kind = column_kind(col->type, col->sub_type);
    QString fault;
    if (!kind || !kind->has_path || col->type == TOK_LISTATTRIBUTE) {
        fault = "only a column with an element path, and no LISTATTRIBUTE, can be AT_END";
    } else if (!path || !path->next || path->type != TOK_POINTER) {
        fault = "its path needs two steps or more: the group whose end it waits for, and its element";
    } else {
        const ATTRIBUTE *last = path;
        while (last->next && last->next->type == TOK_POINTER)
            last = last->next;
        QString own;
        for (const ATTRIBUTE *n = path; n != last; n = n->next)
            own += (own.isEmpty() ? "\"" : " -> \"") + n->text + "\"";
        if (group->isEmpty())
            *group = own;
        else if (own != *group)
            fault = QString("its group %1 is not %2, the group of the other AT_END columns of its measurement").arg(own, *group);
    }
    if (fault.isEmpty())
        return true;
    elog.log(QString("ERROR: AT_END column \"%1\" in line %2: %3\n").arg(col->text).arg(col->line).arg(fault));
    return false;
}

/// PostgreSQL keeps this many bytes of a name and cuts the rest without a word: two
/// names alike in these would fill one table or column.
static const int MAX_DATABASE_NAME = 63;

static bool database_name_valid(const QString &name, int line)
{
    if (name.toUtf8().size() <= MAX_DATABASE_NAME)
        return true;
    elog.log(QString("ERROR: name \"%1\" in line %2 is longer than the %3 bytes that PostgreSQL keeps\n")
                 .arg(name).arg(line).arg(MAX_DATABASE_NAME));
    return false;
}

/// The measurement's name and its columns, as a conversion takes them: the first
/// MEASUREMENTNAME and the first COLUMNS block.
struct TABLE_OF {
    const ATTRIBUTE *name = nullptr;
    const ATTRIBUTE *columns = nullptr;
    explicit TABLE_OF(const ATTRIBUTE *m)
        : name(m->child ? m->child->find(TOK_MEASUREMENTNAME) : nullptr), columns(m->find(TOK_COLUMNS))
    {
    }
};

/// Two columns of one measurement with one name make a header that no loader can take.
static bool column_names_unique(const ATTRIBUTE *columns)
{
    for (const ATTRIBUTE *col = columns ? columns->child : nullptr; col; col = col->next) {
        for (const ATTRIBUTE *earlier = columns->child; earlier != col; earlier = earlier->next) {
            if (earlier->text == col->text) {
                elog.log(QString("ERROR: column \"%1\" in line %2 has the name of the column in line %3\n")
                             .arg(col->text).arg(col->line).arg(earlier->line));
                return false;
            }
        }
    }
    return true;
}

static QStringList column_names(const ATTRIBUTE *columns)
{
    QStringList names;
    for (const ATTRIBUTE *col = columns ? columns->child : nullptr; col; col = col->next)
        names << col->text;
    return names;
}

/// With -D the records of a measurement go into the table of its name: its name and
/// column names must survive PostgreSQL's limit, and measurements that share a table
/// must share its columns.
static bool tables_sound(const ATTRIBUTE *root)
{
    bool sound = true;
    QList<TABLE_OF> seen;
    for (const ATTRIBUTE *inputfile = root; inputfile; inputfile = inputfile->next) {
        for (const ATTRIBUTE *m = inputfile->child; m; m = m->next) {
            if (m->type != TOK_MEASUREMENT)
                continue;
            const TABLE_OF table(m);
            if (!table.name)
                continue;
            sound = database_name_valid(table.name->text, table.name->line) && sound;
            for (const ATTRIBUTE *col = table.columns ? table.columns->child : nullptr; col; col = col->next)
                sound = database_name_valid(col->text, col->line) && sound;
            for (const TABLE_OF &earlier : seen) {
                if (earlier.name->text == table.name->text && column_names(earlier.columns) != column_names(table.columns)) {
                    elog.log(QString("ERROR: measurement \"%1\" has other columns in line %2 than in line %3\n")
                                 .arg(table.name->text).arg(table.name->line).arg(earlier.name->line));
                    sound = false;
                    break;
                }
            }
            seen << table;
        }
    }
    return sound;
}

/// A stamp taken by a pattern over the file's name needs its five groups.
static bool stamp_valid(const ATTRIBUTE *stamp)
{
    if (stamp->sub_type != TOK_MATCHING)
        return true;
    if (!pattern_valid(stamp->argument, stamp->line))
        return false;
    const QRegExp compiled(stamp->argument, Qt::CaseSensitive, QRegExp::RegExp);
    if (compiled.captureCount() >= 5)
        return true;
    elog.log(QString("ERROR: STAMP MATCHING \"%1\" in line %2 has %3 groups; it needs five: year, month, day, hour "
                     "and minute\n").arg(stamp->argument).arg(stamp->line).arg(compiled.captureCount()));
    return false;
}

/// A filter names a column of its measurement that has its value when the record is made.
static bool filter_valid(const ATTRIBUTE *filter, const ATTRIBUTE *columns)
{
    const char *word = filter->type == TOK_KEEP ? "KEEP" : "DROP";
    const ATTRIBUTE *column = columns ? columns->child : nullptr;
    while (column && column->text != filter->text)
        column = column->next;
    QString fault;
    if (!column)
        fault = "its measurement has no such column";
    else if (column->at_end)
        fault = "the column is AT_END: its value comes after the record is made";
    if (!fault.isEmpty()) {
        elog.log(QString("ERROR: %1 \"%2\" in line %3: %4\n").arg(word, filter->text).arg(filter->line).arg(fault));
        return false;
    }
    return pattern_valid(filter->argument, filter->line);
}

bool configuration_sound(const ATTRIBUTE *root)
{
    bool sound = true;
    for (const ATTRIBUTE *inputfile = root; inputfile; inputfile = inputfile->next) {
        sound = pattern_valid(inputfile->text, inputfile->line) && sound;
        for (const ATTRIBUTE *m = inputfile->child; m; m = m->next) {
            if (m->type == TOK_STAMP) {
                sound = stamp_valid(m) && sound;
                continue;
            }
            for (const ATTRIBUTE *item = m->child; item; item = item->next) {
                if (item->type == TOK_KEEP || item->type == TOK_DROP)
                    sound = filter_valid(item, TABLE_OF(m).columns) && sound;
            }
            QString group;
            for (const ATTRIBUTE *columns = m->child; columns; columns = columns->next) {
                for (const ATTRIBUTE *col = columns->type == TOK_COLUMNS ? columns->child : nullptr; col; col = col->next) {
                    if (col->type == TOK_ATTRIBUTE_REGEXP)
                        sound = pattern_valid(col->argument, col->line) && sound;
                    if (col->at_end)
                        sound = at_end_valid(col, &group) && sound;
                }
            }
            sound = column_names_unique(TABLE_OF(m).columns) && sound;
        }
    }
    return (GL_param.database.isEmpty() || tables_sound(root)) && sound;
}
