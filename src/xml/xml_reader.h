#ifndef STRANDOR_XML_XML_READER_H
#define STRANDOR_XML_XML_READER_H

#include <QByteArray>

class INPUT_STREAM;
class XMLInputHandler;

/// Reads one document with libxml2's SAX2 parser, as XML 1.0 says, and drives an
/// XMLInputHandler with it: line ends and attribute values normalised, every encoding
/// libxml2 decodes, the internal subset read and its entities expanded. External DTDs and
/// entities are never loaded. A document that is not well-formed (namespaces included) is
/// refused, and so is one whose entities expand to far more text than the input holds, that
/// holds a run of text longer than MAX_TEXT, or that passes one of the bounds below, each of
/// which keeps libxml2 from work that grows faster than the input.
class XML_READER {
public:
    explicit XML_READER(XMLInputHandler *handler);
    /// Sets up the parser's globals now: a parent that calls this before forking spares
    /// each worker the work.
    static void prepare();

    /// Reads the stream to its end; true when the document was well-formed and the
    /// handler accepted every event. Every failure is logged through the handler, except
    /// a fault of the stream itself (see INPUT_STREAM::fault), which the caller names.
    bool parse(INPUT_STREAM &input);
    /// The same for a document in memory.
    bool parse(const QByteArray &document);

    /// What entity references and attribute defaults add to the input (each reference its
    /// replacement text, wherever and however deep it stands) may reach this many times
    /// the input read so far...
    static const int EXPANSION_FACTOR = 10;
    /// ...plus this many bytes.
    static const long long EXPANSION_ALLOWANCE = 1 << 20;
    /// Each entity reference counts this many bytes besides its replacement text, so that
    /// references that yield nothing, or only markup, are bounded too.
    static const int REFERENCE_COST = 16;
    /// Longest run of text handed on ("text longer than 1 GiB"): whatever holds a value
    /// downstream holds this much whole.
    static const long long MAX_TEXT = 1LL << 30;
    /// Attributes of one element, defaults included ("an element has more than 10000
    /// attributes"): libxml2 checks each against all others.
    static const int MAX_ATTRIBUTES = 10000;
    /// Namespace declarations in scope ("more than 1000 namespace declarations in scope"):
    /// each element's name is looked up among them.
    static const int MAX_NAMESPACES = 1000;
    /// Attribute defaults the internal subset declares for one element ("more than 100
    /// attribute defaults for element v"): each applies at every such element.
    static const int MAX_DEFAULTS = 100;
    /// Distinct names that one document adds to the names dictionary ("more than 100000
    /// distinct names"), whose look-ups slow down as it fills.
    static const int MAX_NAMES = 100000;

    struct Private;
    /// What the start tags of well-formed content hold, as libxml2 will read them: the most
    /// attributes in one tag (namespace declarations aside), and namespace declarations in all.
    struct MARKUP {
        int most_attributes = 0;
        int namespaces = 0;
    };
    static MARKUP count_markup(const char *text, size_t size);

private:
    XMLInputHandler *handler;
};

#endif
