#include "xml_input_handler.h"

#include <QDateTime>
#include <QRegExp>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "attribute.h"
#include "column_kinds.h"
#include "constants.h"
#include "data_file.h"
#include "elog.h"
#include "gl_param.h"

void XMLInputHandler::startDocument()
{
    element_stack.clear();
    element_stack.reserve(64);
    description = &begin_parse(GL_param.current_inputfile);
    description->file_stamp = GL_param.file_time.toString(GL_param.time_format).toUtf8();
    separator = GL_param.column_separator.toUtf8();
    record_separator = DEFAULT_RECORD_SEPARATOR.toUtf8();
}

bool XMLInputHandler::characters(const char *text, size_t size)
{
    character_buffer = std::string_view(text, size);
    return true;
}

bool XMLInputHandler::fatalError(long line, long column, const QString &message)
{
    elog.log(QString("ERROR: error detected in line %1 column %2: %3\n").arg(line).arg(column).arg(message));
    return false;
}

/// A column whose path is missing ends the parse when it first acts.
static bool path_found(const PLAN_COLUMN &column)
{
    if (!column.path_fault)
        return true;
    elog.log(column.path_fault);
    return false;
}

bool XMLInputHandler::startElement(const XML_NAME &qName, const AttributeView &atts)
{
    if (int(element_stack.size()) >= MAX_ELEMENT_DEPTH) {
        elog.log(QString("ERROR: element nesting deeper than %1 levels\n").arg(MAX_ELEMENT_DEPTH));
        return false;
    }
    element_stack.push_back(qName);
    character_buffer = std::string_view();
    // Without look-ups, only columns that read attributes act at an element start.
    if (atts.count == 0 && !description->starts_without_attributes)
        return true;
    for (Plan &plan : description->plans) {
        if (!take_attributes(plan, atts))
            return false;
    }
    return true;
}

bool XMLInputHandler::take_attributes(Plan &plan, const AttributeView &atts)
{
    for (Column *column : plan.start_columns) {
        ATTRIBUTE *col = column->node;
        if (col->type == tok::MAPATTRIBUTE) {
            if (!start_map(*column, atts))
                return false;
            continue;
        }
        if (atts.count == 0)
            continue;
        if (!path_found(*column))
            return false;
        const char *value;
        int size;
        // Of several attributes with that local name the last one wins.
        if (is_pointer_matching(column->path) && atts.last_value(column->attribute, &value, &size))
            assign_bytes(col->result, value, size);
    }
    return true;
}

// The table's parent empties it, an entry's start names its key, a look-up's start
// takes its value: in this order when one element is more than one of them.
bool XMLInputHandler::start_map(Column &column, const AttributeView &atts)
{
    if (!path_found(column))
        return false;
    if (!column.parent_path.empty() && is_pointer_matching(column.parent_path))
        column.table.clear();
    const char *value;
    int size;
    if (is_pointer_matching(column.path)) {
        column.key_pending = atts.last_value(column.attribute, &value, &size);
        if (column.key_pending)
            assign_bytes(column.pending_key, value, size);
    }
    if (is_pointer_matching(column.lookup_path)) {
        const QByteArray *found =
            atts.last_value(column.lookup_attribute, &value, &size) ? column.table.find(value, size) : nullptr;
        if (found)
            assign_bytes(column.node->result, found->constData(), found->size());
        else
            assign_bytes(column.node->result, "", 0);
    }
    return true;
}

bool XMLInputHandler::end_map(Column &column)
{
    if (!path_found(column))
        return false;
    if (column.key_pending && is_pointer_matching(column.path)) {
        column.table.store(column.pending_key.constData(), column.pending_key.size(), character_buffer.data(),
                           int(character_buffer.size()));
        column.key_pending = false;
    }
    return true;
}

static bool is_xml_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void XMLInputHandler::split_list(Column &column)
{
    assign_bytes(column.list_text, character_buffer.data(), int(character_buffer.size()));
    column.items.clear();
    const char *text = column.list_text.constData();
    const int size = column.list_text.size();
    for (int i = 0; i < size;) {
        while (i < size && is_xml_space(text[i]))
            ++i;
        const int start = i;
        while (i < size && !is_xml_space(text[i]))
            ++i;
        if (i > start)
            column.items.emplace_back(start, i - start);
    }
}

bool XMLInputHandler::endElement(const XML_NAME &qName)
{
    for (Plan &plan : description->plans) {
        if (!evaluate_columns(plan))
            return false;
        if (should_write(plan) && write_output_files(plan) != 0) {
            elog.log("ERROR: problem during writing data\n");
            return false;
        }
    }
    if (element_stack.empty() || element_stack.back() != qName) {
        elog.log("ERROR: different endElement\n");
        return false;
    }
    element_stack.pop_back();
    return true;
}

bool XMLInputHandler::evaluate_columns(Plan &plan)
{
    for (Column *column : plan.end_columns) {
        if (column->node->type == tok::MAPATTRIBUTE) {
            if (!end_map(*column))
                return false;
            continue;
        }
        if (!path_found(*column))
            return false;
        if (is_pointer_matching(column->path))
            evaluate_column(*column);
    }
    return true;
}

/// The value of a column that takes it at an element end, from the element's text.
void XMLInputHandler::evaluate_column(Column &column)
{
    ATTRIBUTE *col = column.node;
    switch (col->type) {
    case tok::ATTRIBUTE:
        assign_bytes(col->result, character_buffer.data(), int(character_buffer.size()));
        break;
    case tok::ATTRIBUTE_BOOL:
        assign_bytes(col->result,
               character_buffer == std::string_view(column.argument.constData(), size_t(column.argument.size()))
                   ? "1" : "0",
               1);
        break;
    case tok::ATTRIBUTE_CONVERT:
        convert_column(col);
        break;
    case tok::ATTRIBUTE_REGEXP:
        regexp_column(col);
        break;
    case tok::LISTATTRIBUTE:
        split_list(column);
        break;
    }
}

void XMLInputHandler::convert_column(ATTRIBUTE *column)
{
    const QString text = QString::fromUtf8(character_buffer.data(), int(character_buffer.size()));
    QDateTime time;
    switch (column->sub_type) {
    case tok::MS_TO_UTC:
    case tok::MS_TO_LOCAL:
        time.setMSecsSinceEpoch(text.toLongLong(nullptr, 10));
        time = time.toTimeSpec(column->sub_type == tok::MS_TO_UTC ? Qt::UTC : Qt::LocalTime);
        break;
    case tok::STRING_TO_LOCAL:
    case tok::STRING_TO_UTC:
        time = QDateTime::fromString(text, column->argument);
        time = time.toTimeSpec(column->sub_type == tok::STRING_TO_UTC ? Qt::UTC : Qt::LocalTime);
        break;
    default:
        elog.log("ERROR: unexpected sub_type in XMLInputHandler::endElement()\n");
        return;
    }
    column->result = time.toString(GL_param.time_format).toUtf8();
}

void XMLInputHandler::regexp_column(ATTRIBUTE *column)
{
    const QString text = QString::fromUtf8(character_buffer.data(), int(character_buffer.size()));
    const int found = column->regexp->indexIn(text, 0, QRegExp::CaretAtZero);
    column->result = column->regexp->cap(1).toUtf8();
    if (found < 0) {
        elog.log(QString("ERROR: regular expression for operator REGEXPATTRIBUTE( pointer, \"%1\" ) "
                         "\"%2\" needs EXACTLY ONE subexpression _ found %3 for %4\n")
                     .arg(column->argument, column->text, QString::number(found), text));
    }
}

bool XMLInputHandler::is_pointer_matching(const std::vector<XML_NAME> &path) const
{
    const size_t count = path.size();
    const size_t size = element_stack.size();
    if (count > size)
        return false;
    // Innermost first: that name differs most often.
    for (size_t i = 1; i <= count; ++i) {
        if (element_stack[size - i] != path[count - i])
            return false;
    }
    return true;
}

/// The record-completion test; marks the NEEDS entries that are met now.
bool XMLInputHandler::should_write(Plan &plan)
{
    if (plan.needs.front().node->type == tok::VOID)
        return true;
    bool all = true;
    for (PLAN_NEED &need : plan.needs) {
        if (is_pointer_matching(need.path))
            need.node->satisfied = true;
        all = all && need.node->satisfied;
    }
    return all;
}

void XMLInputHandler::reset_needs(Plan &plan)
{
    for (PLAN_NEED &need : plan.needs) {
        if (need.node->type == tok::NEEDS)
            need.node->satisfied = false;
    }
}

/// A list item or LISTINDEX field of the record for item (-1 without list columns).
void XMLInputHandler::write_list_field(DATA_FILE &out, const Column &column, long item)
{
    if (column.kind->field == FIELD::LIST_ITEM) {
        if (item >= 0 && size_t(item) < column.items.size())
            out.append(column.list_text.constData() + column.items[size_t(item)].first, column.items[size_t(item)].second);
    } else if (item >= 0) {
        char digits[24];
        out.append(digits, snprintf(digits, sizeof digits, "%ld", item + 1));
    }
}

int XMLInputHandler::write_output_files(Plan &plan)
{
    elog.debug(3, "CALLED: XMLInputHandler::write_output_files()\n");
    DATA_FILE &out = *plan.measurement->file;
    // The usual record, and the hot path of every conversion: each field as it stands.
    const size_t plain = plan.plain_fields.size();
    if (plain != 0) {
        for (size_t i = 0; i < plain; ++i) {
            out.append(*plan.plain_fields[i]);
            if (i + 1 < plain)
                out.append(separator);
        }
        out.append(record_separator);
        return finish_record(plan);
    }
    // One record, or with list columns one per item of the longest list (none for empty lists).
    const bool lists = !plan.list_columns.empty();
    size_t records = 1;
    if (lists) {
        records = 0;
        for (const Column *column : plan.list_columns)
            records = std::max(records, column->items.size());
    }
    for (size_t item = 0; item < records; ++item) {
        for (const Column &column : plan.column_list) {
            if (column.kind->field == FIELD::VALUE)
                out.append(column.node->result);
            else if (column.kind->field == FIELD::FILE_STAMP)
                out.append(description->file_stamp);
            else
                write_list_field(out, column, lists ? long(item) : -1);
            if (column.node->next)
                out.append(separator);
        }
        out.append(record_separator);
    }
    return finish_record(plan);
}

/// After the records of a match: a write error ends the parse; else the marks start anew.
int XMLInputHandler::finish_record(Plan &plan)
{
    DATA_FILE &out = *plan.measurement->file;
    if (!out.ok()) {
        log_write_failed(plan.measurement->output_name, out.error());
        return 1;
    }
    reset_needs(plan);
    return 0;
}
