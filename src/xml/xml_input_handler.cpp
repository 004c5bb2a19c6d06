#include "xml_input_handler.h"

#include <QDateTime>
#include <QRegExp>
#include <QTextStream>

#include <cstring>

#include "attribute.h"
#include "constants.h"
#include "elog.h"
#include "gl_param.h"

/// QString equality without a call into the library: names are short, and most differ
/// in length already.
static inline bool same_text(const QString &a, const QString &b)
{
    const int size = a.size();
    return size == b.size()
           && (a.constData() == b.constData() || memcmp(a.constData(), b.constData(), size_t(size) * sizeof(QChar)) == 0);
}

XMLInputHandler::XMLInputHandler() = default;

XMLInputHandler::~XMLInputHandler() = default;

bool XMLInputHandler::startDocument()
{
    return true;
}

bool XMLInputHandler::endDocument()
{
    return true;
}

bool XMLInputHandler::startEntity(const QString &)
{
    return true;
}

bool XMLInputHandler::characters(const QString &ch)
{
    character_buffer = ch;
    return true;
}

bool XMLInputHandler::fatalError(const QXmlParseException &exception)
{
    elog.log(QString("ERROR: error detected in line %1 column %2: %3\n")
                 .arg(exception.lineNumber())
                 .arg(exception.columnNumber())
                 .arg(exception.message()));
    return false;
}

void XMLInputHandler::make_plans()
{
    planned = true;
    file_stamp = GL_param.file_time.toString(GL_param.time_format);
    for (ATTRIBUTE *m = GL_param.current_inputfile->child; m; m = m->next) {
        Plan plan{m, nullptr, nullptr};
        if (m->type == tok::MEASUREMENT) {
            plan.columns = m->find(tok::COLUMNS);
            plan.match = m->find(tok::MATCH);
        }
        for (ATTRIBUTE *col = plan.columns ? plan.columns->child : nullptr; col; col = col->next) {
            if (col->type != tok::ATTRIBUTE_ARG)
                continue;
            ATTRIBUTE *last = col->child;
            while (last && last->next)
                last = last->next;
            if (!last || last->type != tok::POINTER)
                attributes_everywhere = true;
            else if (!attribute_elements.contains(last->text))
                attribute_elements.append(last->text);
        }
        if (m->type != tok::MEASUREMENT || !plan.columns)
            attributes_everywhere = true;
        plans.append(plan);
    }
}

bool XMLInputHandler::wants_attributes(const QString &qName)
{
    if (!planned)
        make_plans();
    if (attributes_everywhere)
        return true;
    for (const QString &name : attribute_elements) {
        if (same_text(name, qName))
            return true;
    }
    return false;
}

const XMLInputHandler::Plan *XMLInputHandler::plan_of(ATTRIBUTE *measurement)
{
    if (!planned)
        make_plans();
    for (const Plan &plan : plans) {
        if (plan.measurement == measurement)
            return &plan;
    }
    return nullptr;
}

/// False after logging why the walk cannot go on with this measurement.
bool XMLInputHandler::columns_found(const Plan &plan)
{
    if (plan.measurement->type != tok::MEASUREMENT) {
        elog.log("ERROR: MEASUREMENT expected\n");
        return false;
    }
    if (!plan.columns) {
        elog.log("ERROR: COLUMNS expected\n");
        return false;
    }
    return true;
}

static bool has_element_path(const ATTRIBUTE *column)
{
    if (!column->child) {
        elog.log("ERROR: POINTER subelement expected\n");
        return false;
    }
    if (column->child->type != tok::POINTER) {
        elog.log("ERROR: type not POINTER\n");
        return false;
    }
    return true;
}

namespace {
class QtAttributeView : public AttributeView {
public:
    explicit QtAttributeView(const QXmlAttributes &atts) : atts(atts) {}
    int count() const override { return atts.length(); }
    bool last_value(const QString &local_name, QString *value) const override
    {
        for (int i = atts.length() - 1; i >= 0; --i) {
            if (atts.localName(i) == local_name) {
                *value = atts.value(i);
                return true;
            }
        }
        return false;
    }

private:
    const QXmlAttributes &atts;
};
} // namespace

bool XMLInputHandler::startElement(const QString &, const QString &, const QString &qName,
                                   const QXmlAttributes &atts)
{
    return start_element(qName, QtAttributeView(atts));
}

bool XMLInputHandler::start_element(const QString &qName, const AttributeView &atts)
{
    if (element_stack.size() >= MAX_ELEMENT_DEPTH) {
        elog.log(QString("ERROR: element nesting deeper than %1 levels\n").arg(MAX_ELEMENT_DEPTH));
        return false;
    }
    element_stack.append(qName);
    character_buffer = CONST_NOT_AVAILABLE;
    // Only ATTRIBUTE_ARG columns take values at an element start, and they read attributes.
    if (atts.count() == 0)
        return true;
    if (!planned)
        make_plans();
    for (const Plan &plan : plans) {
        if (!columns_found(plan) || !take_attributes(plan.columns, atts))
            return false;
    }
    return true;
}

bool XMLInputHandler::take_attributes(ATTRIBUTE *columns, const AttributeView &atts)
{
    for (ATTRIBUTE *col = columns->child; col; col = col->next) {
        if (col->type == tok::ATTRIBUTE_ARG) {
            if (!has_element_path(col))
                return false;
            if (!is_pointer_matching(col->child, col->pointer_count))
                continue;
            // Of several attributes with that local name the last one wins.
            atts.last_value(col->argument, &col->result);
        } else if (!is_column_type(col->type)) {
            elog.log("ERROR: unexpected type in XMLInputHandler::startElement()\n");
        }
    }
    return true;
}

bool XMLInputHandler::endElement(const QString &, const QString &, const QString &qName)
{
    if (!planned)
        make_plans();
    for (const Plan &plan : plans) {
        if (!columns_found(plan) || !evaluate_columns(plan.columns))
            return false;
        if (needs_met(plan) && write_record(plan) != 0) {
            elog.log("ERROR: problem during writing data\n");
            return false;
        }
    }
    if (element_stack.isEmpty() || element_stack.last() != qName) {
        elog.log("ERROR: different endElement\n");
        return false;
    }
    element_stack.removeLast();
    return true;
}

bool XMLInputHandler::evaluate_columns(ATTRIBUTE *columns)
{
    for (ATTRIBUTE *col = columns->child; col; col = col->next) {
        switch (col->type) {
        case tok::ATTRIBUTE:
        case tok::ATTRIBUTE_BOOL:
        case tok::ATTRIBUTE_CONVERT:
        case tok::ATTRIBUTE_REGEXP:
            if (!has_element_path(col))
                return false;
            if (is_pointer_matching(col->child, col->pointer_count))
                evaluate_column(col);
            break;
        case tok::UTC_FILESTAMP:
        case tok::ATTRIBUTE_ARG:
            break;
        default:
            elog.log("ERROR: unexpected type in XMLInputHandler::endElement()\n");
        }
    }
    return true;
}

void XMLInputHandler::evaluate_column(ATTRIBUTE *column)
{
    switch (column->type) {
    case tok::ATTRIBUTE:
        column->result = character_buffer;
        break;
    case tok::ATTRIBUTE_BOOL:
        column->result = character_buffer == column->argument ? QStringLiteral("1") : QStringLiteral("0");
        break;
    case tok::ATTRIBUTE_CONVERT:
        convert_column(column);
        break;
    case tok::ATTRIBUTE_REGEXP:
        regexp_column(column);
        break;
    }
}

void XMLInputHandler::convert_column(ATTRIBUTE *column)
{
    QDateTime time;
    switch (column->sub_type) {
    case tok::MS_TO_UTC:
    case tok::MS_TO_LOCAL:
        time.setMSecsSinceEpoch(character_buffer.toLongLong(nullptr, 10));
        time = time.toTimeSpec(column->sub_type == tok::MS_TO_UTC ? Qt::UTC : Qt::LocalTime);
        break;
    case tok::STRING_TO_LOCAL:
    case tok::STRING_TO_UTC:
        time = QDateTime::fromString(character_buffer, column->argument);
        time = time.toTimeSpec(column->sub_type == tok::STRING_TO_UTC ? Qt::UTC : Qt::LocalTime);
        break;
    default:
        elog.log("ERROR: unexpected sub_type in XMLInputHandler::endElement()\n");
        return;
    }
    column->result = time.toString(GL_param.time_format);
}

void XMLInputHandler::regexp_column(ATTRIBUTE *column)
{
    const int found = column->regexp->indexIn(character_buffer, 0, QRegExp::CaretAtZero);
    column->result = column->regexp->cap(1);
    if (found < 0) {
        elog.log(QString("ERROR: regular expression for operator REGEXPATTRIBUTE( pointer, \"%1\" ) "
                         "\"%2\" needs EXACTLY ONE subexpression _ found %3 for %4\n")
                     .arg(column->argument, column->text, QString::number(found), character_buffer));
    }
}

bool XMLInputHandler::is_pointer_matching(ATTRIBUTE *path, int count)
{
    const int size = element_stack.size();
    int i = size - count;
    if (i < 0)
        return false;
    for (; i < size; ++i) {
        if (!path)
            return false;
        if (!same_text(element_stack.at(i), path->text))
            return false;
        path = path->next;
    }
    return true;
}

/// The MATCH block's first entry, or null after logging why there is none.
ATTRIBUTE *XMLInputHandler::match_items(const Plan &plan)
{
    if (!plan.match) {
        elog.log("ERROR: MATCH subelement expected\n");
        return nullptr;
    }
    if (!plan.match->child)
        elog.log("ERROR: VOID or NEEDS subelement expected\n");
    return plan.match->child;
}

bool XMLInputHandler::should_write(ATTRIBUTE *measurement)
{
    const Plan *plan = plan_of(measurement);
    return plan && needs_met(*plan);
}

bool XMLInputHandler::needs_met(const Plan &plan)
{
    ATTRIBUTE *items = match_items(plan);
    if (!items)
        return false;
    if (items->type == tok::VOID)
        return true;
    bool all = true;
    for (ATTRIBUTE *n = items; n; n = n->next) {
        if (is_pointer_matching(n->child, n->pointer_count))
            n->satisfied = true;
        all = all && n->satisfied;
    }
    return all;
}

void XMLInputHandler::reset_needs(ATTRIBUTE *measurement)
{
    if (const Plan *plan = plan_of(measurement))
        clear_needs(*plan);
}

void XMLInputHandler::clear_needs(const Plan &plan)
{
    for (ATTRIBUTE *n = match_items(plan); n; n = n->next) {
        if (n->type == tok::NEEDS)
            n->satisfied = false;
    }
}

int XMLInputHandler::write_output_files(ATTRIBUTE *measurement)
{
    const Plan *plan = plan_of(measurement);
    if (!plan) {
        elog.debug(3, "CALLED: XMLInputHandler::write_output_files()\n");
        elog.log("ERROR: MEASUREMENT expected\n");
        return 1;
    }
    return write_record(*plan);
}

int XMLInputHandler::write_record(const Plan &plan)
{
    elog.debug(3, "CALLED: XMLInputHandler::write_output_files()\n");
    if (!columns_found(plan))
        return 1;
    // The line is put together first, sized once and copied field by field: one stream
    // call per record instead of one per field.
    int size = DEFAULT_RECORD_SEPARATOR.size();
    for (ATTRIBUTE *col = plan.columns->child; col; col = col->next) {
        if (col->type == tok::UTC_FILESTAMP)
            size += file_stamp.size();
        else if (is_column_type(col->type))
            size += col->result.size();
        else
            elog.log("ERROR: missing ATTRIBUTE type in XMLInputHandler::write_output_files()\n");
        if (col->next)
            size += GL_param.column_separator.size();
    }
    line.resize(size);
    QChar *at = line.data();
    auto put = [&at](const QString &text) {
        memcpy(static_cast<void *>(at), text.constData(), size_t(text.size()) * sizeof(QChar));
        at += text.size();
    };
    for (ATTRIBUTE *col = plan.columns->child; col; col = col->next) {
        if (col->type == tok::UTC_FILESTAMP)
            put(file_stamp);
        else if (is_column_type(col->type))
            put(col->result);
        if (col->next)
            put(GL_param.column_separator);
    }
    put(DEFAULT_RECORD_SEPARATOR);
    QTextStream &out = *plan.measurement->stream;
    out << line;
    if (out.status() != QTextStream::Ok) {
        elog.log(QString("ERROR: could not write file %1\n").arg(plan.measurement->output_name));
        return 1;
    }
    clear_needs(plan);
    return 0;
}
