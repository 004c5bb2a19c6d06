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

bool configuration_sound(const ATTRIBUTE *root)
{
    bool sound = true;
    for (const ATTRIBUTE *inputfile = root; inputfile; inputfile = inputfile->next) {
        sound = pattern_valid(inputfile->text, inputfile->line) && sound;
        for (const ATTRIBUTE *m = inputfile->child; m; m = m->next) {
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
