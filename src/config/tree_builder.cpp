#include "tree_builder.h"

#include <QRegExp>

#include <cstdlib>

#include "attribute.h"
#include "elog.h"
#include "gl_param.h"
#include "global_parser.h"
#include "type_codes.h"
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

bool configuration_sound(const ATTRIBUTE *root)
{
    bool sound = true;
    for (const ATTRIBUTE *inputfile = root; inputfile; inputfile = inputfile->next) {
        sound = pattern_valid(inputfile->text, inputfile->line) && sound;
        for (const ATTRIBUTE *m = inputfile->child; m; m = m->next)
            for (const ATTRIBUTE *columns = m->child; columns; columns = columns->next)
                for (const ATTRIBUTE *col = columns->type == tok::COLUMNS ? columns->child : nullptr; col; col = col->next)
                    if (col->type == tok::ATTRIBUTE_REGEXP)
                        sound = pattern_valid(col->argument, col->line) && sound;
    }
    return sound;
}
