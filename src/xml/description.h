#ifndef STRANDOR_XML_DESCRIPTION_H
#define STRANDOR_XML_DESCRIPTION_H

#include <QByteArray>
#include <QRegExp>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lookup_table.h"
#include "value.h"

class ATTRIBUTE;
struct COLUMN_KIND;

/// An element or attribute name as the reader interns it: each spelling of a prefix and of
/// a local part has a single pointer for the life of the process, so names compare by pointer.
struct XML_NAME {
    const void *prefix = nullptr;
    const void *local = nullptr;
    bool operator==(const XML_NAME &other) const { return local == other.local && prefix == other.prefix; }
    bool operator!=(const XML_NAME &other) const { return !(*this == other); }
};

/// The interned pointer of a spelling (UTF-8), as every parse of this process sees it.
const void *intern_name(const QByteArray &spelling);
/// The interned "#", which stands for an element's position where an attribute's name is
/// written: no attribute can have that name.
const void *position_name();
/// The dictionary behind intern_name, for the reader's parsers (libxml2's xmlDictPtr).
void *interned_names();

/// One column of a measurement, compiled: its kind, its paths with their names interned,
/// and the fault of a path that is missing, logged when the column first acts. Besides,
/// the state a parse keeps for it (lists, a look-up table), which begin_parse empties.
struct PLAN_COLUMN {
    ATTRIBUTE *node;
    const COLUMN_KIND *kind;
    const char *path_fault = nullptr;
    std::vector<XML_NAME> path;
    /// The path less its last step, for paths of two steps or more.
    std::vector<XML_NAME> parent_path;
    /// ARGATTRIBUTE: the attribute's interned local name; MAPATTRIBUTE: the key's.
    const void *attribute = nullptr;
    QByteArray argument;
    /// MAPATTRIBUTE: the look-up path and attribute; parent_path is the entries' parent.
    std::vector<XML_NAME> lookup_path;
    const void *lookup_attribute = nullptr;

    /// LISTATTRIBUTE: the text and where its items lie in it (offset, size).
    QByteArray list_text;
    std::vector<std::pair<int, int>> items;
    /// MAPATTRIBUTE: the key of the entry begun last, and the table.
    QByteArray pending_key;
    bool key_pending = false;
    LOOKUP_TABLE table;
};

struct PLAN_NEED {
    ATTRIBUTE *node;
    std::vector<XML_NAME> path;
};

/// One measurement of a description, compiled.
struct MEASUREMENT_PLAN {
    ATTRIBUTE *measurement = nullptr;
    ATTRIBUTE *columns = nullptr;
    ATTRIBUTE *match = nullptr;
    std::vector<PLAN_COLUMN> column_list;
    std::vector<PLAN_NEED> needs;
    /// The columns that act at element starts, and at element ends.
    std::vector<PLAN_COLUMN *> start_columns;
    std::vector<PLAN_COLUMN *> end_columns;
    /// The MATCH entries with a path, met at their element's end; the others are met at
    /// every end. Without any, or after a VOID first entry, every element end writes.
    std::vector<PLAN_NEED *> path_needs;
    bool writes_at_every_end = false;
    /// Of path_needs, those not met since the last record.
    size_t unmet_needs = 0;
    /// With AT_END columns: their group, how many of its elements are open, and the
    /// records made meanwhile, held until one ends: their bytes, and where each AT_END
    /// value goes into them.
    std::vector<XML_NAME> group_path;
    int open_groups = 0;
    /// Records made in this parse.
    long records = 0;
    std::string held;
    std::vector<std::pair<size_t, const PLAN_COLUMN *>> held_marks;
    /// LISTATTRIBUTE columns: with any, a match writes one record per item.
    std::vector<PLAN_COLUMN *> list_columns;
    /// When every column writes a value or the file stamp: the bytes of each, in order.
    std::vector<const VALUE *> plain_fields;

    /// The checks of the description, made once. Each fault is logged where a conversion
    /// meets it: naming the output, writing its header, preparing the match.
    QString name;
    const char *granularity_letter = nullptr;
    QString naming_fault;
    QByteArray header;
    /// The column names, as the header gives them.
    QStringList column_names;
    QString header_fault;
    QString match_fault;
    /// The names of its columns that are longer than a header allows.
    QStringList long_names;
};

/// What an element's end does for one measurement: the columns that take their value
/// there, the MATCH entries met there, and whether a record may be complete then.
struct END_ACTION {
    MEASUREMENT_PLAN *plan;
    std::vector<PLAN_COLUMN *> columns;
    std::vector<PLAN_NEED *> needs;
    bool may_write;
    /// Such an element may end the group of the measurement's AT_END columns.
    bool ends_group = false;
};

/// All that concerns the elements of one local name, in the order of the measurements
/// and of their columns: so an element finds its work without a walk over the rest.
struct ELEMENT_ACTIONS {
    /// ABSENT_VALUES EMPTY: the columns emptied at the start, each with the path that must
    /// match (its own, or its own less the last step).
    std::vector<std::pair<PLAN_COLUMN *, const std::vector<XML_NAME> *>> emptied;
    std::vector<PLAN_COLUMN *> start_columns;
    std::vector<END_ACTION> ends;
    /// The measurements whose AT_END group ends with such an element.
    std::vector<MEASUREMENT_PLAN *> groups;
    /// A column reads the text of such an element at its end.
    bool wants_text = false;
    /// Some column is emptied or takes a value at the start of such an element.
    bool acts_at_start = false;
    /// A column reads the position of such an element among its parent's children of its
    /// name: the number of its counter, or -1.
    int counter = -1;
};

/// An INPUTFILE description, compiled once after the configuration is read: what the
/// handler follows in every file that the description matches.
struct DESCRIPTION {
    /// The INPUTFILE pattern, which picks the description for a file by its name.
    QRegExp name_pattern;
    std::vector<MEASUREMENT_PLAN> plans;
    /// The actions by interned local name; names that no column or entry concerns get other.
    const ELEMENT_ACTIONS &actions_of(const void *local) const
    {
        if (!name_slots.empty()) {
            for (size_t i = slot(local);; i = (i + 1) & (name_slots.size() - 1)) {
                if (name_slots[i].first == local)
                    return *name_slots[i].second;
                if (!name_slots[i].first)
                    break;
            }
        }
        return other;
    }
    std::vector<std::unique_ptr<ELEMENT_ACTIONS>> named;
    ELEMENT_ACTIONS other;
    /// Open addressing over named by the name's pointer; the size is a power of two.
    std::vector<std::pair<const void *, const ELEMENT_ACTIONS *>> name_slots;
    size_t slot(const void *local) const
    {
        return size_t((uintptr_t(local) * 0x9E3779B97F4A7C15ull) >> 32) & (name_slots.size() - 1);
    }
    /// The names whose positions are counted.
    int counters = 0;
    /// Every element start must look for columns with faults or count positions.
    bool checks_starts = false;
    /// Columns whose path is missing: the first to act ends the parse with its fault.
    std::vector<PLAN_COLUMN *> faulty_start_columns;
    std::vector<PLAN_COLUMN *> faulty_end_columns;
    bool fails_at_end = false;
    /// The file's time stamp as UTC_FILESTAMP columns write it, set for each file.
    VALUE file_stamp;
};

/// Compiles every description of the configuration; a process's parses share the result.
void compile_descriptions(ATTRIBUTE *root);
/// The compiled form of an INPUTFILE node, compiled now if it was not yet.
DESCRIPTION &description_of(ATTRIBUTE *inputfile);
/// The same, with its parse state emptied for a new file.
DESCRIPTION &begin_parse(ATTRIBUTE *inputfile);

#endif
