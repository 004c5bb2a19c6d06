#include "xml_reader.h"

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include "description.h"
#include "value.h"
#include "input_stream.h"
#include "xml_input_handler.h"

struct XML_READER::Private {
    XMLInputHandler *handler;
    xmlParserCtxtPtr ctxt = nullptr;
    /// The file, or else the document in memory.
    INPUT_STREAM *stream = nullptr;
    const char *next = nullptr;
    size_t left = 0;
    /// Bytes of input handed to libxml2, and bytes that entity references and attribute
    /// defaults added to them.
    long long input_bytes = 0;
    long long text_bytes = 0;
    bool stopped = false;
    /// The first error, logged when the parse has ended: a fault of the compressed
    /// stream found by then explains it better.
    bool failed = false;
    long error_line = 0;
    long error_column = 0;
    QString error_message;
    /// Text since the last markup: the handler gets each such run in one piece. It keeps a
    /// view of the last run, so the bytes stay until the next run begins. Grown by realloc,
    /// which moves a large block without copying it.
    char *pending = nullptr;
    size_t pending_size = 0;
    size_t pending_capacity = 0;
    bool delivered = false;

    ~Private() { free(pending); }

    bool halted(void *ctx) { return stopped && halt(ctx); }
    bool halt(void *ctx);
    void fail(void *ctx, long line, long column, const QString &message);
    void fail_here(void *ctx, const QString &message);
    /// Hands the text since the last markup to the handler; false once the parse stopped.
    bool flush(void *ctx) { return halted(ctx) ? false : pending_size == 0 || delivered || deliver(ctx); }
    bool deliver(void *ctx);
    bool count_text(void *ctx, long long size);
    bool append_text(void *ctx, const xmlChar *text, int length);
};

/// Entity content is parsed in contexts of its own, which share the document's
/// dictionary and private pointer.
static XML_READER::Private *reader(void *ctx)
{
    return static_cast<XML_READER::Private *>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

/// After a stop, every context that still calls back is halted too. An entity's content
/// is parsed in a context of its own, and a context that merely stopped counts as a
/// success to the one that holds the reference, which would go on expanding: marked as
/// not well-formed, it fails that one in turn.
bool XML_READER::Private::halt(void *ctx)
{
    xmlParserCtxtPtr context = static_cast<xmlParserCtxtPtr>(ctx);
    context->wellFormed = 0;
    xmlStopParser(context);
    return true;
}

void XML_READER::Private::fail(void *ctx, long line, long column, const QString &message)
{
    if (!failed) {
        error_line = line;
        error_column = column;
        error_message = message;
    }
    failed = true;
    stopped = true;
    halted(ctx);
    halted(ctxt);
}

void XML_READER::Private::fail_here(void *ctx, const QString &message)
{
    fail(ctx, xmlSAX2GetLineNumber(ctxt), xmlSAX2GetColumnNumber(ctxt), message);
}

bool XML_READER::Private::deliver(void *ctx)
{
    const bool ok = handler->characters(pending, pending_size);
    delivered = true;
    if (!ok)
        fail_here(ctx, "error triggered by consumer");
    return ok;
}

// In SAX mode libxml2 does not bound the text that entities expand to: one large entity
// referenced many times passes its checks, and with XML_PARSE_HUGE nested ones do too.
// Whatever the document holds beyond its own bytes comes from a reference, counted where
// libxml2 looks the entity up, or from an attribute default, counted where it is applied.
bool XML_READER::Private::count_text(void *ctx, long long size)
{
    text_bytes += size;
    if (text_bytes <= EXPANSION_ALLOWANCE + EXPANSION_FACTOR * input_bytes)
        return true;
    fail_here(ctx, QString("entity expansion too large: %1 bytes of text from %2 bytes of input")
                       .arg(text_bytes)
                       .arg(input_bytes));
    return false;
}

/// False, the document failed, when the run would grow past MAX_TEXT or memory ran out.
bool XML_READER::Private::append_text(void *ctx, const xmlChar *text, int length)
{
    if (delivered) {
        pending_size = 0;
        delivered = false;
    }
    const size_t size = pending_size + size_t(length);
    if (size > size_t(MAX_TEXT)) {
        fail_here(ctx, QStringLiteral("text longer than 1 GiB"));
        return false;
    }
    if (size > pending_capacity) {
        const size_t capacity = std::min(std::max(size, 2 * pending_capacity + 256), size_t(MAX_TEXT));
        char *grown = static_cast<char *>(realloc(pending, capacity));
        if (!grown) {
            fail_here(ctx, QStringLiteral("out of memory"));
            return false;
        }
        pending = grown;
        pending_capacity = capacity;
    }
    copy_bytes(pending + pending_size, reinterpret_cast<const char *>(text), size_t(length));
    pending_size = size;
    return true;
}

/// Memory that runs out in a callback fails the document like any error: the exception
/// must not cross libxml2's frames, nor end the worker.
template <auto Callback>
struct Guarded;
template <typename... Args, void (*Callback)(void *, Args...)>
struct Guarded<Callback> {
    static void call(void *ctx, Args... args)
    {
        try {
            Callback(ctx, args...);
        } catch (const std::bad_alloc &) {
            reader(ctx)->fail_here(ctx, QStringLiteral("out of memory"));
        }
    }
};

static void on_start_document(void *ctx)
{
    xmlSAX2StartDocument(ctx); // the document node keeps the internal subset's entities
    XML_READER::Private *r = reader(ctx);
    if (ctx != r->ctxt)
        return;
    r->handler->startDocument();
}

static void on_end_document(void *ctx)
{
    xmlSAX2EndDocument(ctx);
    reader(ctx)->flush(ctx);
}

/// Counts one reference to entity, at any depth and wherever it stands; none after a stop,
/// which libxml2 then takes for an undefined entity, ending the expansion it was in.
static xmlEntityPtr counted(void *ctx, xmlEntityPtr entity)
{
    XML_READER::Private *r = reader(ctx);
    if (r->halted(ctx))
        return nullptr;
    const long long size = (entity ? entity->length : 0) + XML_READER::REFERENCE_COST;
    return r->count_text(ctx, size) ? entity : nullptr;
}

/// The internal subset's entities only: an external one is never loaded. The predefined
/// ones stand for a single character and are not counted.
static xmlEntityPtr on_get_entity(void *ctx, const xmlChar *name)
{
    xmlParserCtxtPtr ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt->inSubset == 0) {
        if (xmlEntityPtr predefined = xmlGetPredefinedEntity(name))
            return predefined;
    }
    return counted(ctx, xmlGetDocEntity(ctxt->myDoc, name));
}

/// Parameter entities expand to markup in the internal subset.
static xmlEntityPtr on_get_parameter_entity(void *ctx, const xmlChar *name)
{
    return counted(ctx, xmlSAX2GetParameterEntity(ctx, name));
}

static xmlParserInputPtr refuse_entity(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

static xmlParserInputPtr on_resolve_entity(void *, const xmlChar *, const xmlChar *)
{
    return nullptr;
}

static void on_start_element(void *ctx, const xmlChar *localname, const xmlChar *prefix,
                             const xmlChar *, int, const xmlChar **, int nb_attributes,
                             int nb_defaulted, const xmlChar **attributes)
{
    XML_READER::Private *r = reader(ctx);
    if (!r->flush(ctx))
        return;
    // The defaulted attributes come last; the others are the input's bytes or counted references.
    if (nb_defaulted > 0) {
        long long size = 0;
        for (int i = nb_attributes - nb_defaulted; i < nb_attributes; ++i)
            size += attributes[5 * i + 4] - attributes[5 * i + 3];
        if (!r->count_text(ctx, size))
            return;
    }
    if (!r->handler->startElement(XML_NAME{prefix, localname}, AttributeView{attributes, nb_attributes}))
        r->fail_here(ctx, "error triggered by consumer");
}

static void on_end_element(void *ctx, const xmlChar *localname, const xmlChar *prefix, const xmlChar *)
{
    XML_READER::Private *r = reader(ctx);
    if (r->flush(ctx) && !r->handler->endElement(XML_NAME{prefix, localname}))
        r->fail_here(ctx, "error triggered by consumer");
}

static void on_characters(void *ctx, const xmlChar *text, int length)
{
    XML_READER::Private *r = reader(ctx);
    // Text that no column reads is not kept: mostly the line breaks between elements.
    if (r->handler->wants_text && !r->halted(ctx))
        r->append_text(ctx, text, length);
}

// A CDATA section is a run of its own.
static void on_cdata(void *ctx, const xmlChar *text, int length)
{
    XML_READER::Private *r = reader(ctx);
    if (!r->flush(ctx))
        return;
    // Copied: libxml2's bytes do not outlive the call, and the handler keeps a view.
    r->delivered = true;
    if (!r->append_text(ctx, text, length))
        return;
    r->delivered = true;
    if (!r->handler->characters(r->pending, r->pending_size))
        r->fail_here(ctx, "error triggered by consumer");
}

static void on_comment(void *ctx, const xmlChar *)
{
    reader(ctx)->flush(ctx);
}

static void on_processing_instruction(void *ctx, const xmlChar *, const xmlChar *)
{
    reader(ctx)->flush(ctx);
}

/// The first error that makes the document not well-formed is logged, on one line.
static void on_error(void *ctx, xmlErrorPtr error)
{
    const bool fatal = error->level == XML_ERR_FATAL
                       || (error->domain == XML_FROM_NAMESPACE && error->level >= XML_ERR_ERROR);
    if (!ctx || !fatal)
        return;
    QString message = error->code == XML_ERR_NO_MEMORY
                          ? QStringLiteral("out of memory")
                          : QString::fromUtf8(error->message ? error->message : "not well-formed").trimmed();
    message.replace('\n', ' ');
    reader(ctx)->fail(ctx, error->line, error->int2, message);
}

static void silent(void *, const char *, ...) {}

static int read_input(void *context, char *buffer, int length)
{
    XML_READER::Private *r = static_cast<XML_READER::Private *>(context);
    if (r->stopped)
        return 0;
    long given;
    if (r->stream) {
        given = r->stream->read(buffer, size_t(length));
        if (given < 0) {
            // The stream's fault is the one reported; what libxml2 makes of it is not.
            r->failed = true;
            r->stopped = true;
            return -1;
        }
    } else {
        given = long(std::min(size_t(length), r->left));
        memcpy(buffer, r->next, size_t(given));
        r->next += given;
        r->left -= size_t(given);
    }
    r->input_bytes += given;
    return int(given);
}

static int close_input(void *)
{
    return 0;
}

static bool run(XML_READER::Private &r)
{
    xmlSAXHandler sax;
    xmlSAXVersion(&sax, 2); // the DTD callbacks store the internal subset's declarations
    sax.startDocument = Guarded<on_start_document>::call;
    sax.endDocument = on_end_document;
    sax.getEntity = on_get_entity;
    sax.getParameterEntity = on_get_parameter_entity;
    sax.resolveEntity = on_resolve_entity;
    sax.externalSubset = nullptr;
    sax.setDocumentLocator = nullptr;
    sax.startElementNs = Guarded<on_start_element>::call;
    sax.endElementNs = Guarded<on_end_element>::call;
    // Nothing there throws: the text grows by realloc.
    sax.characters = on_characters;
    sax.ignorableWhitespace = on_characters;
    sax.cdataBlock = Guarded<on_cdata>::call;
    sax.comment = on_comment;
    sax.processingInstruction = on_processing_instruction;
    sax.reference = nullptr;
    sax.warning = nullptr;
    sax.error = nullptr;
    sax.fatalError = nullptr;
    sax.serror = on_error;
    xmlSetGenericErrorFunc(nullptr, silent);
    xmlSetExternalEntityLoader(refuse_entity);

    r.ctxt = xmlCreateIOParserCtxt(&sax, nullptr, read_input, close_input, &r, XML_CHAR_ENCODING_NONE);
    if (!r.ctxt) {
        r.handler->fatalError(0, 0, "out of memory");
        return false;
    }
    r.ctxt->_private = &r;
    r.handler->line_context = r.ctxt;
    r.handler->line_source = [](void *ctxt) { return long(xmlSAX2GetLineNumber(ctxt)); };
    // Names are interned in the dictionary that the compiled descriptions use, so that the
    // handler compares them by pointer with no look-up per file. The parser's own names in
    // it are looked up again there.
    xmlDictPtr names = static_cast<xmlDictPtr>(interned_names());
    xmlDictFree(r.ctxt->dict);
    r.ctxt->dict = names;
    xmlDictReference(names);
    r.ctxt->str_xml = xmlDictLookup(names, BAD_CAST "xml", 3);
    r.ctxt->str_xmlns = xmlDictLookup(names, BAD_CAST "xmlns", 5);
    r.ctxt->str_xml_ns = xmlDictLookup(names, XML_XML_NAMESPACE, 36);
    // NOENT: entity references are replaced, in content and in attribute values. HUGE:
    // the element nesting limit is the handler's, and text nodes may be long.
    xmlCtxtUseOptions(r.ctxt, XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_HUGE);
    xmlParseDocument(r.ctxt);
    bool ok = !r.stopped && r.ctxt->wellFormed && r.ctxt->nsWellFormed;
    if (!ok && !r.failed)
        r.fail_here(r.ctxt, "document not well-formed");
    // A corrupt compressed file may inflate to bytes that are not well-formed: its
    // fault, further on, is the one to report. Read to the end, the trailer is checked.
    if (r.stream && (ok || r.stream->compressed()))
        r.stream->drain();
    if (r.stream && !r.stream->fault().isEmpty())
        ok = false;
    else if (!ok)
        r.handler->fatalError(r.error_line, r.error_column, r.error_message);
    xmlFreeDoc(r.ctxt->myDoc);
    r.ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(r.ctxt);
    r.ctxt = nullptr;
    return ok;
}

XML_READER::XML_READER(XMLInputHandler *handler) : handler(handler) {}

void XML_READER::prepare()
{
    xmlInitParser();
}

bool XML_READER::parse(INPUT_STREAM &input)
{
    Private r;
    r.handler = handler;
    r.stream = &input;
    return run(r);
}

bool XML_READER::parse(const QByteArray &document)
{
    Private r;
    r.handler = handler;
    r.next = document.constData();
    r.left = size_t(document.size());
    return run(r);
}
