#ifndef STRANDOR_XML_XML_INPUT_HANDLER_H
#define STRANDOR_XML_XML_INPUT_HANDLER_H

#include <QByteArray>
#include <QString>

#include <memory>
#include <string_view>
#include <vector>

#include "description.h"
#include "field_format.h"
#include "lookup_table.h"
#include "record_sink.h"
#include "value.h"

class DATA_FILE;

/// Deepest element nesting accepted.
const int MAX_ELEMENT_DEPTH = 4096;

/// The attributes of an element as libxml2 hands them over: for each, its local name,
/// prefix, namespace URI, and the start and end of its value (UTF-8).
struct AttributeView {
    const unsigned char **entries;
    int count;

    /// The value of the last attribute with that interned local name, or false.
    bool last_value(const void *local_name, const char **value, int *size) const
    {
        for (int i = count - 1; i >= 0; --i) {
            const unsigned char **a = entries + 5 * i;
            if (a[0] == local_name) {
                *value = reinterpret_cast<const char *>(a[3]);
                *size = int(a[4] - a[3]);
                return true;
            }
        }
        return false;
    }
};

/// What one parse keeps for a column: its value, and the list or table it reads.
struct COLUMN_STATE {
    VALUE value;
    /// LISTATTRIBUTE: the text and where its items lie in it (offset, size).
    QByteArray list_text;
    std::vector<std::pair<int, int>> items;
    /// MAPATTRIBUTE: the key of the entry begun last, and the table.
    QByteArray pending_key;
    bool key_pending = false;
    LOOKUP_TABLE table;
    /// REGEXPATTRIBUTE: the description's expression; matching keeps its captures here.
    QRegExp regexp;
    /// Time conversions: the values that could not be read, and the line of the first.
    long unconverted = 0;
    long first_unconverted_line = 0;
};

/// What one parse keeps for a measurement.
struct MEASUREMENT_STATE {
    DATA_FILE *out = nullptr;
    /// Of the MATCH entries with a path, the round of records in which each was met last,
    /// and how many are not met in this round: a new record starts by counting on.
    std::vector<unsigned long> met;
    unsigned long round = 1;
    size_t unmet_needs = 0;
    /// How many elements of its AT_END group are open, and the records made meanwhile,
    /// held until one ends: their bytes, and where each AT_END value goes into them.
    int open_groups = 0;
    std::string held;
    std::vector<std::pair<size_t, const VALUE *>> held_marks;
    /// Records made in this parse.
    long records = 0;
    /// The memory of its MAPATTRIBUTE columns' tables.
    size_t lookup_bytes = 0;
    /// A plain record's fields, in order.
    std::vector<const VALUE *> plain_fields;
    /// The patterns of its filters; matching keeps its captures here.
    std::vector<QRegExp> filters;
};

/// The state of one parse, made fresh for each file: nothing of it outlives the file.
struct PARSE_STATE {
    PARSE_STATE(const DESCRIPTION &description, const QByteArray &stamp, RECORD_SINK &sink);
    std::unique_ptr<COLUMN_STATE[]> columns;
    std::vector<MEASUREMENT_STATE> measurements;
    /// The file's time stamp as UTC_FILESTAMP columns write it.
    VALUE file_stamp;
};

/// SAX handler: follows the open elements against its description and writes records into
/// its sink. Names, text and values stay UTF-8 bytes. The description has passed the checks
/// of its outputs' opening: every measurement has its COLUMNS and a MATCH with entries.
/// Everything it reads comes through its constructor and the parse.
class XMLInputHandler {
public:
    /// For one file: its description, its name as messages give it, its stamp as time
    /// conversions write it, where its records go, and whether each record is traced (debug
    /// level 3 and up).
    XMLInputHandler(const DESCRIPTION &description, const QString &file_name, const QByteArray &stamp,
                    RECORD_SINK &sink, bool trace = false);

    void startDocument();
    bool startElement(const XML_NAME &qName, const AttributeView &atts);
    bool endElement(const XML_NAME &qName);
    /// One run of character data, references expanded. The bytes must stay as they are
    /// until the next characters or startElement call: the handler keeps a view of them.
    bool characters(const char *text, size_t size);
    bool fatalError(long line, long column, const QString &message);

    /// True when the last count open elements are, in order, the names of path.
    bool is_pointer_matching(const std::vector<XML_NAME> &path) const
    {
        if (path.size() > size_t(depth))
            return false;
        // Innermost first: that name differs most often.
        const XML_NAME *name = path.data() + path.size();
        const OPEN_ELEMENT *element = open.get() + depth;
        while (name != path.data()) {
            if (*--name != (--element)->name)
                return false;
        }
        return true;
    }

    /// Records made in the measurement so far, held ones included.
    long records_of(size_t measurement) const { return state.measurements[measurement].records; }
    /// The column's values that no conversion could read, and the line of the first.
    long unconverted(const PLAN_COLUMN &column, long *first_line) const
    {
        *first_line = state.columns[column.slot].first_unconverted_line;
        return state.columns[column.slot].unconverted;
    }

    std::string_view character_buffer;
    /// Records made in this parse, held ones included; of them, those that paired lists
    /// of unequal length, and the line of the first.
    long records_made = 0;
    long unequal_records = 0;
    long first_unequal_line = 0;
    /// The errno of an output that could not be written, which ended the parse; else 0.
    int write_error = 0;
    /// The line the parse is at, as the reader tells it.
    long (*line_source)(void *) = nullptr;
    void *line_context = nullptr;
    /// Some open element is one whose text a column reads at its end. That text is the last
    /// run since the last element start, which may stand in a child: while none is open,
    /// no such end comes before the next start, and text can be dropped as it comes.
    bool wants_text = false;

private:
    using Column = PLAN_COLUMN;
    using Plan = MEASUREMENT_PLAN;
    COLUMN_STATE &of(const Column &column) { return state.columns[column.slot]; }
    MEASUREMENT_STATE &of(const Plan &plan) { return state.measurements[plan.index]; }
    bool starts_without_fault(const AttributeView &atts);
    void count_position(const XML_NAME &name, const ELEMENT_ACTIONS &actions);
    void take_attribute(const Column &column, const AttributeView &atts);
    void start_map(const Column &column, const AttributeView &atts);
    void split_list(COLUMN_STATE &column);
    std::string_view list_field(const Column &column, long item, bool *absent);
    bool release_held(const Plan &plan);
    /// What a measurement holds for AT_END columns in one group (the records' bytes and the
    /// marks of their AT_END values), and in its look-up tables, at most.
    static const size_t MAX_HELD = size_t(64) << 20;
    static const size_t MAX_LOOKUP = size_t(64) << 20;
    char digits[24];
    int finish_record(const Plan &plan);
    bool passes_filters(const Plan &plan, long item);
    /// False when the measurement's look-up tables grew too large (logged here).
    bool evaluate_column(const Plan &plan, const Column &column);
    void convert_column(const Column &column, std::string_view text);
    void regexp_column(const Column &column);
    bool should_write(const END_ACTION &action);
    void reset_needs(const Plan &plan);
    /// 0; 1 when writing failed; 2 when held records grew too large (logged here).
    int write_output_files(const Plan &plan);
    bool write_failed(const Plan &plan);

    const DESCRIPTION &description;
    const QString file_name;
    RECORD_SINK &sink;
    PARSE_STATE state;
    const bool trace;
    /// The open elements, outermost first, with what concerns each.
    struct OPEN_ELEMENT {
        XML_NAME name;
        const ELEMENT_ACTIONS *actions;
    };
    /// Raw room for the deepest nesting, each element constructed as it opens: a worker
    /// touches only the pages its file's depth needs.
    struct RAW_DELETER {
        void operator()(OPEN_ELEMENT *room) const { ::operator delete(room); }
    };
    std::unique_ptr<OPEN_ELEMENT, RAW_DELETER> open{
        static_cast<OPEN_ELEMENT *>(::operator new(sizeof(OPEN_ELEMENT) * MAX_ELEMENT_DEPTH))};
    int depth = 0;
    /// With counted names: for each open element, and for the document, how many children
    /// of each counted name have started in it.
    std::vector<unsigned> child_counts;
    /// The position of the element starting now, if its name is counted, as text.
    const void *position = nullptr;
    char position_text[16];
    int position_size = 0;
    bool attribute_value(const void *name, const AttributeView &atts, const char **value, int *size) const;
    /// Of the open elements, those whose text a column reads.
    int reading_text = 0;
    const void *last_local = nullptr;
    const ELEMENT_ACTIONS *last_actions = nullptr;
    /// As they mostly are: then a record is written in one pass.
    bool one_byte_separators = false;
    FIELD_FORMAT field_format{OUTPUT_FORMAT::TEXT, 0};
    /// TSV or CSV: some fields are escaped or quoted.
    bool formatted = false;
    char separator_byte = 0;
    char record_separator_byte = 0;
};

#endif
