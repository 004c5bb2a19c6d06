#ifndef STRANDOR_XML_FAST_READER_H
#define STRANDOR_XML_FAST_READER_H

#include <QString>

class XMLInputHandler;

/// Drives an XMLInputHandler from libxml2's SAX2 parser with the calls that
/// QXmlSimpleReader makes with its default features. It gives up on anything it does not
/// reproduce exactly (a DOCTYPE, another encoding than UTF-8, any diagnostic of the
/// parser): the caller then converts the file again with QXmlSimpleReader.
class FastReader {
public:
    explicit FastReader(XMLInputHandler *handler);
    ~FastReader();

    /// True when the whole file was read and the handler accepted every event.
    bool parse(const QString &path);
    /// Why the last parse gave up: "document type declaration", "encoding",
    /// "parser diagnostic", "stopped by handler" or "unreadable".
    QString reason() const;

    struct Private;

private:
    Private *d;
};

#endif
