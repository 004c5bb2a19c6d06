#ifndef STRANDOR_XML_XML_INPUT_HANDLER_H
#define STRANDOR_XML_XML_INPUT_HANDLER_H

#include <QString>
#include <QVector>
#include <QXmlDefaultHandler>

class ATTRIBUTE;

/// Deepest element nesting accepted; deeper documents are refused before the reader's
/// own recursion can exhaust the stack.
const int MAX_ELEMENT_DEPTH = 4096;

/// The attributes of an element as the handler reads them: how many there are, and the
/// value of the last one with a given local name. Lets a reader other than
/// QXmlSimpleReader hand them over without building QXmlAttributes.
class AttributeView {
public:
    virtual ~AttributeView() = default;
    virtual int count() const = 0;
    virtual bool last_value(const QString &local_name, QString *value) const = 0;
};

/// SAX handler: follows the open elements against the chosen description and writes records.
class XMLInputHandler : public QXmlDefaultHandler {
public:
    XMLInputHandler();
    ~XMLInputHandler() override;

    bool startDocument() override;
    bool endDocument() override;
    bool startElement(const QString &namespaceURI, const QString &localName,
                      const QString &qName, const QXmlAttributes &atts) override;
    bool endElement(const QString &namespaceURI, const QString &localName,
                    const QString &qName) override;
    /// startElement with the attributes behind a view.
    bool start_element(const QString &qName, const AttributeView &atts);
    bool characters(const QString &ch) override;
    bool fatalError(const QXmlParseException &exception) override;
    bool startEntity(const QString &name) override;

    bool is_pointer_matching(ATTRIBUTE *path, int count);
    bool should_write(ATTRIBUTE *measurement);
    void reset_needs(ATTRIBUTE *measurement);
    int write_output_files(ATTRIBUTE *measurement);

    /// False when no column can take an attribute of an element of that name, so the
    /// element's attributes need not be built.
    bool wants_attributes(const QString &qName);

    QVector<QString> element_stack;
    QString character_buffer;

private:
    /// What find() yields for one measurement; the description does not change during a parse.
    struct Plan {
        ATTRIBUTE *measurement;
        ATTRIBUTE *columns;
        ATTRIBUTE *match;
    };
    void make_plans();
    bool columns_found(const Plan &plan);
    bool take_attributes(ATTRIBUTE *columns, const AttributeView &atts);
    bool evaluate_columns(ATTRIBUTE *columns);
    void evaluate_column(ATTRIBUTE *column);
    void convert_column(ATTRIBUTE *column);
    void regexp_column(ATTRIBUTE *column);
    ATTRIBUTE *match_items(const Plan &plan);
    /// should_write and reset_needs for a measurement whose plan is at hand.
    bool needs_met(const Plan &plan);
    void clear_needs(const Plan &plan);
    int write_record(const Plan &plan);
    const Plan *plan_of(ATTRIBUTE *measurement);

    QVector<Plan> plans;
    bool planned = false;
    /// Innermost element names of the attribute columns' paths.
    QVector<QString> attribute_elements;
    /// An attribute column without a path sees (and stops at) every element with attributes.
    bool attributes_everywhere = false;
    /// The file's time stamp as UTC_FILESTAMP columns write it, formatted once.
    QString file_stamp;
    QString line;
};

#endif
