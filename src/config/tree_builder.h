#ifndef STRANDOR_CONFIG_TREE_BUILDER_H
#define STRANDOR_CONFIG_TREE_BUILDER_H

#include <QString>

class ATTRIBUTE;

/// The scanner's copy of a quoted string, without its quotes; frees the copy.
QString unquote(char *text);
/// Whether unquote reads UTF-8, for a configuration that is valid UTF-8 throughout, or
/// Latin-1, as configurations always were read.
void set_strings_utf8(bool utf8);
ATTRIBUTE *new_node(int type, ATTRIBUTE *child = nullptr);
ATTRIBUTE *new_node(int type, const QString &text, ATTRIBUTE *child = nullptr);
ATTRIBUTE *new_node(int type, int sub_type, const QString &text, const QString &argument,
                    ATTRIBUTE *child);
/// An ISO 8601 conversion column from its sources (OR nodes): the first one's path and
/// attribute become the column's own, the others stay its OR children.
ATTRIBUTE *iso_column(int sub_type, const QString &name, ATTRIBUTE *sources);
/// Appends item at the end of list; returns the list's first node.
ATTRIBUTE *append(ATTRIBUTE *list, ATTRIBUTE *item);
/// Deletes the list that starts at node, with everything below it and what its nodes own.
void free_tree(ATTRIBUTE *node);

#endif
