#ifndef STRANDOR_XML_XML_INPUT_HANDLER_H
#define STRANDOR_XML_XML_INPUT_HANDLER_H

#include <QByteArray>
#include <QString>

#include <memory>
#include <string_view>
#include <vector>

#include "description.h"
#include "field_format.h"

class ATTRIBUTE;
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

/// SAX handler: follows the open elements against the chosen description and writes
/// records. Names, text and values stay UTF-8 bytes. The description has passed the checks
/// of its outputs' opening: every measurement has its COLUMNS and a MATCH with entries.
class XMLInputHandler {
public:
    /// Takes the compiled description of GL_param.current_inputfile; call before the
    /// first element.
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

    std::string_view character_buffer;
    /// Records made in this parse, held ones included; of them, those that paired lists
    /// of unequal length, and the line of the first.
    long records_made = 0;
    long unequal_records = 0;
    long first_unequal_line = 0;
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
    bool starts_without_fault(const AttributeView &atts);
    void count_position(const ELEMENT_ACTIONS &actions);
    void take_attribute(Column &column, const AttributeView &atts);
    void start_map(Column &column, const AttributeView &atts);
    void split_list(Column &column);
    std::string_view list_field(const Column &column, long item, bool *absent);
    bool release_held(Plan &plan);
    /// Records held for AT_END columns, at most, in one group.
    static const size_t MAX_HELD = size_t(64) << 20;
    char digits[24];
    int finish_record(Plan &plan);
    void evaluate_column(Column &column);
    void convert_column(ATTRIBUTE *column);
    void regexp_column(ATTRIBUTE *column);
    bool should_write(const END_ACTION &action);
    void reset_needs(Plan &plan);
    /// 0; 1 when writing failed; 2 when held records grew too large (logged here).
    int write_output_files(Plan &plan);

    /// The description of the file, compiled once; its parse state is this parse's.
    DESCRIPTION *description = nullptr;
    /// The open elements, outermost first, with what concerns each.
    struct OPEN_ELEMENT {
        XML_NAME name;
        const ELEMENT_ACTIONS *actions;
    };
    std::unique_ptr<OPEN_ELEMENT[]> open{new OPEN_ELEMENT[MAX_ELEMENT_DEPTH]};
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
    QByteArray separator;
    QByteArray record_separator;
    /// As they mostly are: then a record is written in one pass.
    bool one_byte_separators = false;
    FIELD_FORMAT field_format{OUTPUT_FORMAT::TEXT, 0};
    /// TSV or CSV: some fields are escaped or quoted.
    bool formatted = false;
    char separator_byte = 0;
    char record_separator_byte = 0;
};

#endif
