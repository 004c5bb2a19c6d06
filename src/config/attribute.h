#ifndef STRANDOR_CONFIG_ATTRIBUTE_H
#define STRANDOR_CONFIG_ATTRIBUTE_H

#include <QByteArray>
#include <QString>

#include "config_parser.hpp"
#include "value.h"

class DATA_FILE;
class QRegExp;

/// One node of the record description tree: first-child / next-sibling lists.
class ATTRIBUTE {
public:
    ATTRIBUTE();

    /// Pre-order search of this node, its subtree, then its following siblings.
    const ATTRIBUTE *find(int type) const;
    void clear_result();
    void dump(ATTRIBUTE *start, int indent);

    ATTRIBUTE *next;
    ATTRIBUTE *child;
    int type;
    int sub_type;
    QString text;
    QString argument;
    /// MEASUREMENT only: its output file while it is written.
    DATA_FILE *file;
    QRegExp *regexp;
    /// Column value, as it goes into the record.
    VALUE result;
    int pointer_count;
    bool satisfied;
    /// The configuration's line that the node ends in, for messages.
    int line = 0;
    /// A column written with AT_END: it takes its value when its group element ends.
    bool at_end = false;
};

#endif
