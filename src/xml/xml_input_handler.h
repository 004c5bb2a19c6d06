#ifndef STRANDOR_XML_XML_INPUT_HANDLER_H
#define STRANDOR_XML_XML_INPUT_HANDLER_H

#include <QByteArray>
#include <QString>

#include <functional>
#include <string_view>
#include <vector>

#include "lookup_table.h"

class ATTRIBUTE;
class DATA_FILE;
struct COLUMN_KIND;

/// Deepest element nesting accepted.
const int MAX_ELEMENT_DEPTH = 4096;

/// An element or attribute name as the reader interns it: within one parse each spelling
/// of a prefix and of a local part has a single pointer, so names compare by pointer.
struct XML_NAME {
    const void *prefix = nullptr;
    const void *local = nullptr;
    bool operator==(const XML_NAME &other) const { return local == other.local && prefix == other.prefix; }
    bool operator!=(const XML_NAME &other) const { return !(*this == other); }
};

/// Gives the interned pointer of a spelling (UTF-8).
using XML_INTERN = std::function<const void *(const QByteArray &)>;

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
    /// Resolves the description's names for this parse; call before the first element.
    void startDocument(const XML_INTERN &intern);
    bool startElement(const XML_NAME &qName, const AttributeView &atts);
    bool endElement(const XML_NAME &qName);
    /// One run of character data, references expanded. The bytes must stay as they are
    /// until the next characters or startElement call: the handler keeps a view of them.
    bool characters(const char *text, size_t size);
    bool fatalError(long line, long column, const QString &message);

    /// True when the last count open elements are, in order, the names of path.
    bool is_pointer_matching(const std::vector<XML_NAME> &path) const;

    std::vector<XML_NAME> element_stack;
    std::string_view character_buffer;

private:
    struct Column {
        ATTRIBUTE *node;
        const COLUMN_KIND *kind;
        /// MAPATTRIBUTE: the entry path.
        std::vector<XML_NAME> path;
        /// ARGATTRIBUTE: the attribute's interned local name; MAPATTRIBUTE: the key's.
        const void *attribute = nullptr;
        QByteArray argument;
        /// LISTATTRIBUTE: the text and where its items lie in it (offset, size).
        QByteArray list_text;
        std::vector<std::pair<int, int>> items;
        /// MAPATTRIBUTE: its LOOKUP node, the entries' parent, the look-up path and
        /// attribute, the key of the entry begun last, and the table.
        ATTRIBUTE *lookup = nullptr;
        std::vector<XML_NAME> parent_path;
        std::vector<XML_NAME> lookup_path;
        const void *lookup_attribute = nullptr;
        QByteArray pending_key;
        bool key_pending = false;
        LOOKUP_TABLE table;
    };
    struct Need {
        ATTRIBUTE *node;
        std::vector<XML_NAME> path;
    };
    /// What find() yields for one measurement, with its names resolved; the description
    /// does not change during a parse.
    struct Plan {
        ATTRIBUTE *measurement;
        ATTRIBUTE *columns;
        ATTRIBUTE *match;
        std::vector<Column> column_list;
        std::vector<Need> needs;
        /// The columns that take values at element starts, and at element ends.
        std::vector<Column *> start_columns;
        std::vector<Column *> end_columns;
        /// LISTATTRIBUTE columns: with any, a match writes one record per item.
        std::vector<Column *> list_columns;
        /// When every column writes a value or the file stamp: the bytes of each, in order.
        std::vector<const QByteArray *> plain_fields;
    };
    bool take_attributes(Plan &plan, const AttributeView &atts);
    bool start_map(Column &column, const AttributeView &atts);
    bool end_map(Column &column);
    void split_list(Column &column);
    void write_list_field(DATA_FILE &out, const Column &column, long item);
    int finish_record(Plan &plan);
    bool evaluate_columns(Plan &plan);
    void evaluate_column(Column &column);
    void convert_column(ATTRIBUTE *column);
    void regexp_column(ATTRIBUTE *column);
    bool should_write(Plan &plan);
    void reset_needs(Plan &plan);
    int write_output_files(Plan &plan);

    std::vector<Plan> plans;
    /// Some column acts at every element start, with attributes or without.
    bool starts_without_attributes = false;
    /// The file's time stamp as UTC_FILESTAMP columns write it, formatted once.
    QByteArray file_stamp;
    QByteArray separator;
    QByteArray record_separator;
};

#endif
