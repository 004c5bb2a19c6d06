#include "xml_input_handler.h"

#include <QDateTime>
#include <QRegExp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "attribute.h"
#include "column_kinds.h"
#include "data_file.h"
#include "elog.h"
#include "iso_time.h"

PARSE_STATE::PARSE_STATE(const DESCRIPTION &description, const QByteArray &stamp, RECORD_SINK &sink)
    : columns(new COLUMN_STATE[description.column_count]), measurements(description.plans.size())
{
    file_stamp.assign(stamp);
    for (const MEASUREMENT_PLAN &plan : description.plans) {
        MEASUREMENT_STATE &measurement = measurements[plan.index];
        measurement.out = &sink.records(plan.index);
        measurement.met.assign(plan.path_needs.size(), 0);
        for (const MEASUREMENT_PLAN::FILTER &filter : plan.filters)
            measurement.filters.push_back(filter.pattern);
        measurement.unmet_needs = plan.path_needs.size();
        for (const PLAN_COLUMN &column : plan.column_list) {
            COLUMN_STATE &own = columns[column.slot];
            // Reserved buffers keep their memory when emptied, so values allocate only to grow.
            own.list_text.reserve(64);
            own.pending_key.reserve(16);
            if (column.node->type == TOK_ATTRIBUTE_REGEXP)
                own.regexp = column.regexp;
            if (plan.plain)
                measurement.plain_fields.push_back(column.kind->field == FIELD::FILE_STAMP ? &file_stamp : &own.value);
        }
    }
}

XMLInputHandler::XMLInputHandler(const DESCRIPTION &description, const QString &file_name, const QByteArray &stamp,
                                 RECORD_SINK &sink, bool trace)
    : description(description), file_name(file_name), sink(sink), state(description, stamp, sink), trace(trace)
{
    child_counts.assign(size_t(description.counters) * (MAX_ELEMENT_DEPTH + 1), 0);
    position = position_name();
    const RECORD_LAYOUT &layout = description.layout;
    one_byte_separators = layout.separator.size() == 1 && layout.record_separator.size() == 1;
    field_format = FIELD_FORMAT(layout.format, one_byte_separators ? layout.separator.at(0) : 0);
    formatted = layout.format != OUTPUT_FORMAT::TEXT;
    separator_byte = one_byte_separators ? layout.separator.at(0) : 0;
    record_separator_byte = one_byte_separators ? layout.record_separator.at(0) : 0;
}

void XMLInputHandler::startDocument()
{
    depth = 0;
    reading_text = 0;
    wants_text = false;
    last_local = nullptr;
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

bool XMLInputHandler::startElement(const XML_NAME &qName, const AttributeView &atts)
{
    if (depth >= MAX_ELEMENT_DEPTH) {
        elog.log(QString("ERROR: element nesting deeper than %1 levels\n").arg(MAX_ELEMENT_DEPTH));
        return false;
    }
    // Siblings mostly share their name: the last one's actions are looked up once.
    if (qName.local != last_local) {
        last_local = qName.local;
        last_actions = &description.actions_of(qName.local);
    }
    const ELEMENT_ACTIONS &actions = *last_actions;
    if (description.checks_starts) {
        if (!starts_without_fault(atts))
            return false;
        count_position(qName, actions);
    }
    new (open.get() + depth++) OPEN_ELEMENT{qName, &actions};
    reading_text += actions.wants_text;
    wants_text = reading_text != 0;
    character_buffer = std::string_view();
    if (actions.acts_at_start) {
        for (const Plan *plan : actions.groups)
            of(*plan).open_groups += is_pointer_matching(plan->group_path);
        for (const auto &emptied : actions.emptied) {
            if (is_pointer_matching(*emptied.second)) {
                COLUMN_STATE &column = of(*emptied.first);
                column.value.clear();
                column.list_text.clear();
                column.items.clear();
            }
        }
        for (const Column *column : actions.start_columns)
            take_attribute(*column, atts);
    }
    return true;
}

/// The position of an element whose name is counted, among its parent's children of that
/// name: prefix and local part, as paths compare them.
void XMLInputHandler::count_position(const XML_NAME &name, const ELEMENT_ACTIONS &actions)
{
    const size_t counters = size_t(description.counters);
    for (const auto &counted : actions.counters) {
        if (counted.first == name.prefix) {
            const unsigned position = ++child_counts[size_t(depth) * counters + size_t(counted.second)];
            position_size = snprintf(position_text, sizeof position_text, "%u", position);
        }
    }
    // The element's own children are counted from 1.
    std::fill_n(child_counts.begin() + long(size_t(depth + 1) * counters), counters, 0u);
}

/// A column whose path is missing ends the parse when it first acts: a look-up at any
/// element start, another column at one with attributes.
bool XMLInputHandler::starts_without_fault(const AttributeView &atts)
{
    for (const Column *column : description.faulty_start_columns) {
        if (column->node->type == TOK_MAPATTRIBUTE || atts.count != 0) {
            elog.log(column->path_fault);
            return false;
        }
    }
    return true;
}

/// The value of the attribute name of the element that starts: "#" is its position.
bool XMLInputHandler::attribute_value(const void *name, const AttributeView &atts, const char **value, int *size) const
{
    if (name != position)
        return atts.last_value(name, value, size);
    *value = position_text;
    *size = position_size;
    return true;
}

void XMLInputHandler::take_attribute(const Column &column, const AttributeView &atts)
{
    if (column.node->type == TOK_MAPATTRIBUTE) {
        start_map(column, atts);
        return;
    }
    const char *value;
    int size;
    // Of several attributes with that local name the last one wins.
    if (!is_pointer_matching(column.path) || !attribute_value(column.attribute, atts, &value, &size))
        return;
    if (column.node->type == TOK_ATTRIBUTE_CONVERT)
        convert_column(column, std::string_view(value, size_t(size)));
    else
        of(column).value.assign(value, size_t(size));
}

// The table's parent empties it, an entry's start names its key, a look-up's start
// takes its value: in this order when one element is more than one of them.
void XMLInputHandler::start_map(const Column &column, const AttributeView &atts)
{
    COLUMN_STATE &own = of(column);
    if (!column.parent_path.empty() && is_pointer_matching(column.parent_path))
        own.table.clear();
    const char *value;
    int size;
    if (is_pointer_matching(column.path)) {
        own.key_pending = attribute_value(column.attribute, atts, &value, &size);
        if (own.key_pending)
            assign_bytes(own.pending_key, value, size);
    }
    if (is_pointer_matching(column.lookup_path)) {
        const QByteArray *found =
            attribute_value(column.lookup_attribute, atts, &value, &size) ? own.table.find(value, size) : nullptr;
        if (found)
            own.value.assign(*found);
        else
            own.value.clear();
    }
}

static bool is_xml_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void XMLInputHandler::split_list(COLUMN_STATE &column)
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
    if (description.fails_at_end) {
        elog.log(description.faulty_end_columns.front()->path_fault);
        return false;
    }
    const ELEMENT_ACTIONS &actions = depth == 0 ? description.other : *open.get()[depth - 1].actions;
    for (const END_ACTION &action : actions.ends) {
        for (const Column *column : action.columns) {
            if (is_pointer_matching(column->path) && !evaluate_column(*action.plan, *column))
                return false;
        }
        if (action.may_write && should_write(action)) {
            const int written = write_output_files(*action.plan);
            if (written == 1)
                elog.log("ERROR: problem during writing data\n");
            if (written != 0)
                return false;
        }
        // A group's records have their AT_END values now.
        if (action.ends_group && is_pointer_matching(action.plan->group_path)) {
            --of(*action.plan).open_groups;
            if (!release_held(*action.plan))
                return false;
        }
    }
    if (depth == 0 || open.get()[depth - 1].name != qName) {
        elog.log("ERROR: different endElement\n");
        return false;
    }
    reading_text -= open.get()[--depth].actions->wants_text;
    wants_text = reading_text != 0;
    return true;
}

/// The value of a column that takes it at an element end, from the element's text.
bool XMLInputHandler::evaluate_column(const Plan &plan, const Column &column)
{
    COLUMN_STATE &own = of(column);
    switch (column.node->type) {
    case TOK_ATTRIBUTE:
        own.value.assign(character_buffer.data(), character_buffer.size());
        break;
    case TOK_ATTRIBUTE_BOOL:
        own.value.assign(
            character_buffer == std::string_view(column.argument.constData(), size_t(column.argument.size())) ? "1" : "0",
            1);
        break;
    case TOK_ATTRIBUTE_CONVERT:
        convert_column(column, character_buffer);
        break;
    case TOK_ATTRIBUTE_REGEXP:
        regexp_column(column);
        break;
    case TOK_LISTATTRIBUTE:
        split_list(own);
        break;
    case TOK_MAPATTRIBUTE:
        // An entry's end stores its text under the key its start named.
        if (own.key_pending) {
            size_t &held = of(plan).lookup_bytes;
            held -= own.table.bytes();
            own.table.store(own.pending_key.constData(), own.pending_key.size(), character_buffer.data(),
                            int(character_buffer.size()));
            own.key_pending = false;
            held += own.table.bytes();
            if (held > MAX_LOOKUP) {
                elog.log(QString("ERROR: more than 64 MiB of look-up entries in MEASUREMENT %1 of file %2\n")
                             .arg(plan.name, file_name));
                return false;
            }
        }
        break;
    }
    return true;
}

/// A time converted into the description's TIME_FORMAT; a text that no conversion can
/// read gives no value, and is counted for the file's warning.
void XMLInputHandler::convert_column(const Column &column, std::string_view text_bytes)
{
    const QString text = QString::fromUtf8(text_bytes.data(), int(text_bytes.size()));
    QDateTime time;
    bool read = true;
    switch (column.node->sub_type) {
    case TOK_MS_TO_UTC:
    case TOK_MS_TO_LOCAL:
        time.setMSecsSinceEpoch(text.toLongLong(&read, 10));
        time = time.toTimeSpec(column.node->sub_type == TOK_MS_TO_UTC ? Qt::UTC : Qt::LocalTime);
        break;
    case TOK_STRING_TO_LOCAL:
    case TOK_STRING_TO_UTC:
        time = QDateTime::fromString(text, QString::fromUtf8(column.argument));
        time = time.toTimeSpec(column.node->sub_type == TOK_STRING_TO_UTC ? Qt::UTC : Qt::LocalTime);
        break;
    case TOK_ISO8601_TO_UTC:
    case TOK_ISO8601_TO_LOCAL: {
        ISO_TIME iso;
        read = iso.parse(text_bytes.data(), text_bytes.size());
        time = iso.moment().toTimeSpec(column.node->sub_type == TOK_ISO8601_TO_UTC ? Qt::UTC : Qt::LocalTime);
        break;
    }
    default:
        elog.log("ERROR: unexpected sub_type in XMLInputHandler::endElement()\n");
        return;
    }
    COLUMN_STATE &own = of(column);
    if (!read || !time.isValid()) {
        if (own.unconverted++ == 0 && line_source)
            own.first_unconverted_line = line_source(line_context);
        own.value.clear();
        return;
    }
    own.value.assign(time.toString(description.layout.time_format).toUtf8());
}

void XMLInputHandler::regexp_column(const Column &column)
{
    const QString text = QString::fromUtf8(character_buffer.data(), int(character_buffer.size()));
    COLUMN_STATE &own = of(column);
    const int found = own.regexp.indexIn(text, 0, QRegExp::CaretAtZero);
    own.value.assign(own.regexp.cap(1).toUtf8());
    if (found < 0) {
        elog.log(QString("ERROR: regular expression for operator REGEXPATTRIBUTE( pointer, \"%1\" ) "
                         "\"%2\" needs EXACTLY ONE subexpression _ found %3 for %4\n")
                     .arg(column.node->argument, column.node->text, QString::number(found), text));
    }
}

/// The record-completion test; marks the NEEDS entries that are met now.
bool XMLInputHandler::should_write(const END_ACTION &action)
{
    const Plan &plan = *action.plan;
    if (plan.writes_at_every_end)
        return true;
    MEASUREMENT_STATE &own = of(plan);
    for (const PLAN_NEED *need : action.needs) {
        if (own.met[need->slot] != own.round && is_pointer_matching(need->path)) {
            own.met[need->slot] = own.round;
            --own.unmet_needs;
        }
    }
    return own.unmet_needs == 0;
}

void XMLInputHandler::reset_needs(const Plan &plan)
{
    MEASUREMENT_STATE &own = of(plan);
    ++own.round;
    own.unmet_needs = plan.path_needs.size();
}

/// A list item or LISTINDEX field of the record for item (-1 without list columns); a list
/// shorter than the longest has no value for the items it lacks.
std::string_view XMLInputHandler::list_field(const Column &column, long item, bool *absent)
{
    *absent = false;
    if (column.kind->field != FIELD::LIST_ITEM)
        return item >= 0 ? std::string_view(digits, size_t(snprintf(digits, sizeof digits, "%ld", item + 1))) : std::string_view();
    const COLUMN_STATE &own = of(column);
    if (item < 0 || size_t(item) >= own.items.size()) {
        *absent = true;
        return std::string_view();
    }
    const auto &found = own.items[size_t(item)];
    return std::string_view(own.list_text.constData() + found.first, size_t(found.second));
}

/// Writes the records held for a group that ends, each AT_END value put in its place.
bool XMLInputHandler::release_held(const Plan &plan)
{
    MEASUREMENT_STATE &own = of(plan);
    DATA_FILE &out = *own.out;
    size_t from = 0;
    for (const auto &mark : own.held_marks) {
        out.append(own.held.data() + from, mark.first - from);
        const VALUE &value = *mark.second;
        const std::string_view field = field_format(value.data(), value.size(), value.absent());
        out.append(field.data(), field.size());
        from = mark.first;
    }
    out.append(own.held.data() + from, own.held.size() - from);
    own.held.clear();
    own.held_marks.clear();
    return out.ok() || write_failed(plan);
}

/// Logs that an output could not be written and keeps why; always false.
bool XMLInputHandler::write_failed(const Plan &plan)
{
    write_error = of(plan).out->error();
    log_write_failed(sink.output_name(plan.index), write_error);
    return false;
}

int XMLInputHandler::write_output_files(const Plan &plan)
{
    if (trace)
        elog.log("CALLED: XMLInputHandler::write_output_files()\n");
    MEASUREMENT_STATE &own = of(plan);
    DATA_FILE &out = *own.out;
    const QByteArray &separator = description.layout.separator;
    const QByteArray &record_separator = description.layout.record_separator;
    // The usual record, and the hot path of every conversion: each field as it stands,
    // copied straight into the output's buffer while it has room, the rest appended.
    const size_t plain = own.plain_fields.size();
    if (plain != 0 && one_byte_separators) {
        const VALUE *const *field = own.plain_fields.data();
        char *to = out.tail();
        const char *const limit = out.limit();
        size_t i = 0;
        for (; i < plain && field[i]->size() < size_t(limit - to); ++i) {
            // A field that TSV or CSV must escape or quote takes the longer way.
            if (formatted && !field_format.as_is(field[i]->data(), field[i]->size(), field[i]->absent()))
                break;
            to = field[i]->put(to);
            *to++ = separator_byte;
        }
        if (i == plain) {
            to[-1] = record_separator_byte;
            out.commit(to);
            ++records_made;
            ++own.records;
            return finish_record(plan);
        }
        out.commit(to);
        for (; i < plain; ++i) {
            const std::string_view formatted_field = field_format(field[i]->data(), field[i]->size(), field[i]->absent());
            out.append(formatted_field.data(), formatted_field.size());
            out.append(i + 1 < plain ? separator : record_separator);
        }
        ++records_made;
        ++own.records;
        return finish_record(plan);
    }
    // One record, or with list columns one per item of the longest list (none for empty lists).
    const bool lists = !plan.list_columns.empty();
    size_t records = 1;
    if (lists) {
        records = 0;
        size_t shortest = SIZE_MAX;
        for (const Column *column : plan.list_columns) {
            records = std::max(records, of(*column).items.size());
            shortest = std::min(shortest, of(*column).items.size());
        }
        if (shortest != records) {
            if (unequal_records == 0 && line_source)
                first_unequal_line = line_source(line_context);
            unequal_records += long(records);
        }
    }
    // While a group of AT_END columns is open, records are held until it ends.
    const bool hold = own.open_groups > 0;
    const auto put = [&](const char *data, size_t size) {
        if (size == 0) // an empty field may have no bytes at all
            return;
        if (hold)
            own.held.append(data, size);
        else
            out.append(data, size);
    };
    const auto put_field = [&](const char *data, size_t size, bool absent) {
        const std::string_view field = field_format(data, size, absent);
        put(field.data(), field.size());
    };
    for (size_t item = 0; item < records; ++item) {
        if (!plan.filters.empty() && !passes_filters(plan, lists ? long(item) : -1))
            continue;
        ++records_made;
        ++own.records;
        for (const Column &column : plan.column_list) {
            if (hold && column.at_end) {
                own.held_marks.emplace_back(own.held.size(), &of(column).value);
            } else if (column.kind->field == FIELD::VALUE) {
                const VALUE &value = of(column).value;
                put_field(value.data(), value.size(), value.absent());
            } else if (column.kind->field == FIELD::FILE_STAMP) {
                put_field(state.file_stamp.data(), state.file_stamp.size(), false);
            } else {
                bool absent;
                const std::string_view field = list_field(column, lists ? long(item) : -1, &absent);
                put_field(field.data(), field.size(), absent);
            }
            if (!column.last)
                put(separator.constData(), size_t(separator.size()));
        }
        put(record_separator.constData(), size_t(record_separator.size()));
    }
    if (own.held.size() + own.held_marks.size() * sizeof(own.held_marks[0]) > MAX_HELD) {
        elog.log(QString("ERROR: more than 64 MiB of records wait for the end of a group of MEASUREMENT %1 "
                         "with AT_END columns\n").arg(plan.name));
        return 2;
    }
    return finish_record(plan);
}

/// KEEP and DROP, decided as a record is made, before it is held or written: the value of
/// each filter's column matches its pattern (KEEP), or does not (DROP).
bool XMLInputHandler::passes_filters(const Plan &plan, long item)
{
    MEASUREMENT_STATE &own = of(plan);
    for (size_t i = 0; i < plan.filters.size(); ++i) {
        const Column &column = *plan.filters[i].column;
        std::string_view field;
        if (column.kind->field == FIELD::VALUE)
            field = std::string_view(of(column).value.data(), of(column).value.size());
        else if (column.kind->field == FIELD::FILE_STAMP)
            field = std::string_view(state.file_stamp.data(), state.file_stamp.size());
        else {
            bool absent;
            field = list_field(column, item, &absent);
        }
        const bool matches = own.filters[i].indexIn(QString::fromUtf8(field.data(), int(field.size()))) >= 0;
        if (matches != plan.filters[i].keep)
            return false;
    }
    return true;
}

/// After the records of a match: a write error ends the parse; else the marks start anew.
int XMLInputHandler::finish_record(const Plan &plan)
{
    if (!of(plan).out->ok())
        return write_failed(plan) ? 0 : 1;
    reset_needs(plan);
    return 0;
}
