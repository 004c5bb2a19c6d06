#ifndef STRANDOR_XML_XML_INPUT_HANDLER_H
#define STRANDOR_XML_XML_INPUT_HANDLER_H

#include <QString>
#include <QVector>
#include <QXmlDefaultHandler>

class ATTRIBUTE;

/// Deepest element nesting accepted; deeper documents are refused before the reader's
/// own recursion can exhaust the stack.
const int MAX_ELEMENT_DEPTH = 4096;

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
    bool characters(const QString &ch) override;
    bool fatalError(const QXmlParseException &exception) override;
    bool startEntity(const QString &name) override;

    bool is_pointer_matching(ATTRIBUTE *path, int count);
    bool should_write(ATTRIBUTE *measurement);
    void reset_needs(ATTRIBUTE *measurement);
    int write_output_files(ATTRIBUTE *measurement);

    QVector<QString> element_stack;
    QString character_buffer;

private:
    bool take_attributes(ATTRIBUTE *columns, const QXmlAttributes &atts);
    bool evaluate_columns(ATTRIBUTE *columns);
    void evaluate_column(ATTRIBUTE *column);
    void convert_column(ATTRIBUTE *column);
    void regexp_column(ATTRIBUTE *column);
};

#endif
