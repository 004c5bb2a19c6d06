#include "tree_builder.h"

#include <QRegExp>

#include <cstdlib>

#include "attribute.h"
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
