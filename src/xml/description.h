#ifndef STRANDOR_XML_DESCRIPTION_H
#define STRANDOR_XML_DESCRIPTION_H

#include <QByteArray>
#include <QRegExp>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include <utility>
#include <vector>

#include "gl_param.h"
#include "stamp_reader.h"

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
/// and the fault of a path that is missing, logged when the column first acts.
struct PLAN_COLUMN {
    const ATTRIBUTE *node;
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
    /// REGEXPATTRIBUTE: its expression, compiled once.
    QRegExp regexp;
    /// Where a parse keeps this column's value, list and table: its number in the description.
    size_t slot = 0;
    /// Written AT_END: it takes its value when its group element ends.
    bool at_end = false;
    /// The record's last field: no separator follows it.
    bool last = false;
    /// When it takes its value: TAKES_AT_START, TAKES_AT_END or both.
    unsigned char takes = 0;
};

struct PLAN_NEED {
    const ATTRIBUTE *node;
    std::vector<XML_NAME> path;
    /// Its number among its measurement's entries with a path, for a parse's marks.
    size_t slot = 0;
};

/// One measurement of a description, compiled.
struct MEASUREMENT_PLAN {
    const ATTRIBUTE *measurement = nullptr;
    const ATTRIBUTE *columns = nullptr;
    const ATTRIBUTE *match = nullptr;
    /// Its place among the description's measurements, and its outputs.
    size_t index = 0;
    std::vector<PLAN_COLUMN> column_list;
    std::vector<PLAN_NEED> needs;
    /// The columns that act at element starts, and at element ends.
    std::vector<const PLAN_COLUMN *> start_columns;
    std::vector<const PLAN_COLUMN *> end_columns;
    /// The MATCH entries with a path, met at their element's end; the others are met at
    /// every end. Without any, or after a VOID first entry, every element end writes.
    std::vector<const PLAN_NEED *> path_needs;
    bool writes_at_every_end = false;
    /// With AT_END columns: their group. Records made while one is open are held until it ends.
    std::vector<XML_NAME> group_path;
    /// LISTATTRIBUTE columns: with any, a match writes one record per item.
    std::vector<const PLAN_COLUMN *> list_columns;
    /// The further paths of its columns (OR), each acting as a column of its own path that
    /// writes into the value of its column (the same slot); no field of their own.
    std::vector<PLAN_COLUMN> alternatives;
    /// KEEP and DROP: a record is written when the value of each filter's column matches
    /// its pattern (KEEP), or does not (DROP).
    struct FILTER {
        const PLAN_COLUMN *column;
        QRegExp pattern;
        bool keep;
    };
    std::vector<FILTER> filters;
    /// Every column writes a value or the file stamp, and none waits for a group: a record
    /// is then its fields in order, on the fast path.
    bool plain = false;

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
    /// How many entry traces the emptying of its values writes at debug level 3, one per
    /// node with children from its COLUMNS block on, as operators have always seen them.
    int clear_traces = 0;
};

/// What an element's end does for one measurement: the columns that take their value
/// there, the MATCH entries met there, and whether a record may be complete then.
struct END_ACTION {
    const MEASUREMENT_PLAN *plan;
    std::vector<const PLAN_COLUMN *> columns;
    std::vector<const PLAN_NEED *> needs;
    bool may_write;
    /// Such an element may end the group of the measurement's AT_END columns.
    bool ends_group = false;
};

/// All that concerns the elements of one local name, in the order of the measurements
/// and of their columns: so an element finds its work without a walk over the rest.
struct ELEMENT_ACTIONS {
    /// ABSENT_VALUES EMPTY: the columns emptied at the start, each with the path that must
    /// match (its own, or its own less the last step).
    std::vector<std::pair<const PLAN_COLUMN *, const std::vector<XML_NAME> *>> emptied;
    std::vector<const PLAN_COLUMN *> start_columns;
    std::vector<END_ACTION> ends;
    /// The measurements whose AT_END group ends with such an element.
    std::vector<const MEASUREMENT_PLAN *> groups;
    /// A column reads the text of such an element at its end.
    bool wants_text = false;
    /// Some column is emptied or takes a value at the start of such an element.
    bool acts_at_start = false;
    /// Columns read the position of such an element among its parent's children of its name:
    /// for each prefix (nullptr for none) that such a column's path gives the name, the number
    /// of its counter.
    std::vector<std::pair<const void *, int>> counters;
};

/// How the records of a description are written, from the GLOBALS settings.
struct RECORD_LAYOUT {
    QByteArray separator;
    QByteArray record_separator;
    OUTPUT_FORMAT format = OUTPUT_FORMAT::TEXT;
    /// Of the values that time conversions write.
    QString time_format;
};

/// An INPUTFILE description, compiled once after the configuration is read and never
/// changed after: what the handler follows in every file that the description matches.
/// What one parse keeps lives in the handler's PARSE_STATE.
struct DESCRIPTION {
    const ATTRIBUTE *inputfile = nullptr;
    /// Where a file's stamp comes from: its name, as always; the first attribute of the
    /// sources found in its content (STAMP ( path, "attribute" ) OR ...); or a pattern
    /// over its name whose first five groups are year, month, day, hour and minute.
    enum class STAMP_FROM { NAME, CONTENT, PATTERN };
    STAMP_FROM stamp_from = STAMP_FROM::NAME;
    std::vector<STAMP_SOURCE> stamp_sources;
    QRegExp stamp_pattern;
    /// The INPUTFILE pattern, which picks the description for a file by its name.
    QRegExp name_pattern;
    RECORD_LAYOUT layout;
    std::vector<MEASUREMENT_PLAN> plans;
    /// The columns of all measurements, numbered by PLAN_COLUMN::slot.
    size_t column_count = 0;
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
    std::vector<const PLAN_COLUMN *> faulty_start_columns;
    std::vector<const PLAN_COLUMN *> faulty_end_columns;
    bool fails_at_end = false;
};

/// Every description of a configuration, compiled once, before the input is listed, from
/// the tree and the GLOBALS settings; the workers of a run inherit and share them.
class DESCRIPTIONS {
public:
    explicit DESCRIPTIONS(const ATTRIBUTE *root);
    DESCRIPTIONS(const DESCRIPTIONS &) = delete;
    DESCRIPTIONS &operator=(const DESCRIPTIONS &) = delete;
    ~DESCRIPTIONS();

    const std::vector<std::unique_ptr<const DESCRIPTION>> &all() const { return list; }
    /// Some description takes its files' stamps from elsewhere than their names (STAMP).
    bool any_stamp() const { return stamps; }

private:
    std::vector<std::unique_ptr<const DESCRIPTION>> list;
    bool stamps = false;
};

#endif
