#include "xml_reader.h"

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlmemory.h>

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
    /// The first error is libxml2's finding that the bytes are not well-formed, which
    /// corrupt compressed input may explain; the others are found in bytes that are.
    bool malformed = false;
    /// Text since the last markup: the handler gets each such run in one piece. It keeps a
    /// view of the last run, so the bytes stay until the next run begins. Grown by realloc,
    /// which moves a large block without copying it.
    char *pending = nullptr;
    size_t pending_size = 0;
    size_t pending_capacity = 0;
    bool delivered = false;
    /// The names dictionary, and its size at which the document has added MAX_NAMES.
    xmlDictPtr names = nullptr;
    int names_limit = 0;
    /// Set where a bound refuses libxml2 the memory to pass it: the error that follows.
    const QString *refusal = nullptr;
    /// Attribute defaults declared, by element name.
    std::unordered_map<const xmlChar *, int> defaults;
    /// The markup of each internal entity's content, counted at its first reference.
    std::unordered_map<const void *, XML_READER::MARKUP> entity_markup;

    ~Private() { free(pending); }

    bool halted(void *ctx) { return stopped && halt(ctx); }
    bool halt(void *ctx);
    /// Keeps the first error and stops; where libxml2 is between callbacks, that is all.
    void note(long line, long column, const QString &message);
    void fail(void *ctx, long line, long column, const QString &message);
    void fail_here(void *ctx, const QString &message);
    bool too_many_names() const { return xmlDictSize(names) > names_limit; }
    bool bounded_content(void *ctx, xmlEntityPtr entity);
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

void XML_READER::Private::note(long line, long column, const QString &message)
{
    if (!failed) {
        error_line = line;
        error_column = column;
        error_message = message;
    }
    failed = true;
    stopped = true;
}

void XML_READER::Private::fail(void *ctx, long line, long column, const QString &message)
{
    note(line, column, message);
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

static const QString &too_many_attributes()
{
    static const QString message = QString("an element has more than %1 attributes").arg(XML_READER::MAX_ATTRIBUTES);
    return message;
}

static const QString &too_many_namespaces()
{
    static const QString message =
        QString("more than %1 namespace declarations in scope").arg(XML_READER::MAX_NAMESPACES);
    return message;
}

static const QString &too_many_names()
{
    static const QString message = QString("more than %1 distinct names").arg(XML_READER::MAX_NAMES);
    return message;
}

/// The parse whose tables bounded_realloc watches: one at a time in a process.
static XML_READER::Private *watched = nullptr;
static xmlReallocFunc plain_realloc = nullptr;

// libxml2 keeps an element's attributes, and the namespace declarations in scope, in tables
// of its context that it grows by realloc. Made as large as the bounds when the parse
// begins, they grow only past one: refused, the parse fails at once, before the checks of
// each attribute against all others and the look-ups of names among all declarations.
static void *bounded_realloc(void *block, size_t size)
{
    if (watched && block) {
        if (block == watched->ctxt->atts)
            watched->refusal = &too_many_attributes();
        else if (block == watched->ctxt->nsTab)
            watched->refusal = &too_many_namespaces();
        if (block == watched->ctxt->atts || block == watched->ctxt->nsTab)
            return nullptr;
    }
    return plain_realloc(block, size);
}

static void bound_tables()
{
    static const bool installed = [] {
        xmlFreeFunc free_block;
        xmlMallocFunc allocate;
        xmlStrdupFunc duplicate;
        xmlMemGet(&free_block, &allocate, &plain_realloc, &duplicate);
        return xmlMemSetup(free_block, allocate, bounded_realloc, duplicate) == 0;
    }();
    (void)installed;
}

/// The attributes of an entity's content are read in a context of its own, which the
/// tables' bound does not reach: the content is counted instead, once, before it expands.
bool XML_READER::Private::bounded_content(void *ctx, xmlEntityPtr entity)
{
    auto found = entity_markup.find(entity);
    if (found == entity_markup.end()) {
        const char *content = reinterpret_cast<const char *>(entity->content);
        found = entity_markup.emplace(entity, count_markup(content, content ? size_t(entity->length) : 0)).first;
    }
    const MARKUP &markup = found->second;
    const int in_scope = static_cast<xmlParserCtxtPtr>(ctx)->nsNr / 2;
    if (markup.most_attributes > MAX_ATTRIBUTES)
        fail_here(ctx, too_many_attributes());
    else if (in_scope + markup.namespaces > MAX_NAMESPACES)
        fail_here(ctx, too_many_namespaces());
    return !stopped;
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
    XML_READER::Private *r = reader(ctx);
    // The names of the last bytes read.
    if (r->flush(ctx) && r->too_many_names())
        r->fail_here(ctx, too_many_names());
}

/// Counts one reference to entity, at any depth and wherever it stands; none after a stop,
/// which libxml2 then takes for an undefined entity, ending the expansion it was in.
static xmlEntityPtr counted(void *ctx, xmlEntityPtr entity)
{
    XML_READER::Private *r = reader(ctx);
    if (r->halted(ctx))
        return nullptr;
    const long long size = (entity ? entity->length : 0) + XML_READER::REFERENCE_COST;
    if (!r->count_text(ctx, size))
        return nullptr;
    if (entity && entity->etype == XML_INTERNAL_GENERAL_ENTITY && !r->bounded_content(ctx, entity))
        return nullptr;
    return entity;
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

/// Attribute declarations are not kept: the parser's own tables of defaults and of types
/// serve the parse, and keeping them costs time quadratic in the IDs an element declares.
/// Defaults are bounded, since each is checked against the attributes of every element it
/// applies to.
static void on_attribute_decl(void *ctx, const xmlChar *element, const xmlChar *, int, int presence,
                              const xmlChar *value, xmlEnumerationPtr values)
{
    xmlFreeEnumeration(values);
    XML_READER::Private *r = reader(ctx);
    if (!value || presence == XML_ATTRIBUTE_IMPLIED || presence == XML_ATTRIBUTE_REQUIRED || r->halted(ctx))
        return;
    if (++r->defaults[element] > XML_READER::MAX_DEFAULTS)
        r->fail_here(ctx, QString("more than %1 attribute defaults for element %2")
                              .arg(XML_READER::MAX_DEFAULTS)
                              .arg(QString::fromUtf8(reinterpret_cast<const char *>(element))));
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
    // The defaulted attributes come last; the others are the input's bytes or counted
    // references. Each counts like a reference, so that empty ones are bounded too.
    if (nb_defaulted > 0) {
        long long size = (long long)XML_READER::REFERENCE_COST * nb_defaulted;
        for (int i = nb_attributes - nb_defaulted; i < nb_attributes; ++i)
            size += attributes[5 * i + 4] - attributes[5 * i + 3];
        if (!r->count_text(ctx, size))
            return;
    }
    // The names of the document's own bytes are counted as they are read; an entity's
    // content adds its own at once.
    if (ctx != r->ctxt && r->too_many_names()) {
        r->fail_here(ctx, too_many_names());
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
    XML_READER::Private *r = reader(ctx);
    QString message = error->code == XML_ERR_NO_MEMORY
                          ? (r->refusal ? *r->refusal : QStringLiteral("out of memory"))
                          : QString::fromUtf8(error->message ? error->message : "not well-formed").trimmed();
    message.replace('\n', ' ');
    r->malformed = r->malformed || (!r->failed && error->code != XML_ERR_NO_MEMORY);
    r->fail(ctx, error->line, error->int2, message);
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
    // Between two reads, the bytes of the last one are all that can add names.
    if (r->ctxt && r->too_many_names()) {
        r->note(xmlSAX2GetLineNumber(r->ctxt), xmlSAX2GetColumnNumber(r->ctxt), too_many_names());
        return -1;
    }
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
    sax.attributeDecl = Guarded<on_attribute_decl>::call;
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
    bound_tables();
    r.names = static_cast<xmlDictPtr>(interned_names());
    r.names_limit = xmlDictSize(r.names) + XML_READER::MAX_NAMES;

    r.ctxt = xmlCreateIOParserCtxt(&sax, nullptr, read_input, close_input, &r, XML_CHAR_ENCODING_NONE);
    if (!r.ctxt) {
        r.handler->fatalError(0, 0, "out of memory");
        return false;
    }
    // The tables as large as the bounds allow, so that they grow only past one.
    xmlFree(r.ctxt->atts);
    xmlFree(r.ctxt->attallocs);
    xmlFree(r.ctxt->nsTab);
    r.ctxt->atts = static_cast<const xmlChar **>(xmlMalloc(5 * XML_READER::MAX_ATTRIBUTES * sizeof(xmlChar *)));
    r.ctxt->attallocs = static_cast<int *>(xmlMalloc(XML_READER::MAX_ATTRIBUTES * sizeof(int)));
    r.ctxt->maxatts = 5 * XML_READER::MAX_ATTRIBUTES;
    r.ctxt->nsTab = static_cast<const xmlChar **>(xmlMalloc(2 * XML_READER::MAX_NAMESPACES * sizeof(xmlChar *)));
    r.ctxt->nsMax = 2 * XML_READER::MAX_NAMESPACES;
    r.ctxt->nsNr = 0;
    if (!r.ctxt->atts || !r.ctxt->attallocs || !r.ctxt->nsTab) {
        xmlFreeParserCtxt(r.ctxt);
        r.handler->fatalError(0, 0, "out of memory");
        return false;
    }
    r.ctxt->_private = &r;
    r.handler->line_context = r.ctxt;
    r.handler->line_source = [](void *ctxt) { return long(xmlSAX2GetLineNumber(ctxt)); };
    // Names are interned in the dictionary that the compiled descriptions use, so that the
    // handler compares them by pointer with no look-up per file. The parser's own names in
    // it are looked up again there.
    xmlDictFree(r.ctxt->dict);
    r.ctxt->dict = r.names;
    xmlDictReference(r.names);
    r.ctxt->str_xml = xmlDictLookup(r.names, BAD_CAST "xml", 3);
    r.ctxt->str_xmlns = xmlDictLookup(r.names, BAD_CAST "xmlns", 5);
    r.ctxt->str_xml_ns = xmlDictLookup(r.names, XML_XML_NAMESPACE, 36);
    // NOENT: entity references are replaced, in content and in attribute values. HUGE:
    // the element nesting limit is the handler's, and text nodes may be long.
    xmlCtxtUseOptions(r.ctxt, XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_HUGE);
    watched = &r;
    xmlParseDocument(r.ctxt);
    watched = nullptr;
    bool ok = !r.stopped && r.ctxt->wellFormed && r.ctxt->nsWellFormed;
    if (!ok && !r.failed) {
        r.malformed = true;
        r.fail_here(r.ctxt, "document not well-formed");
    }
    // A corrupt compressed file may inflate to bytes that are not well-formed: its
    // fault, further on, is the one to report. Read to the end, the trailer is checked.
    // Bytes refused for what they hold are not read on.
    if (r.stream && (ok || (r.stream->compressed() && r.malformed)))
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
    bound_tables();
}

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// Quotes delimit attribute values, and nothing else in a start tag of well-formed content;
/// comments, CDATA sections and processing instructions hold no tags.
XML_READER::MARKUP XML_READER::count_markup(const char *text, size_t size)
{
    MARKUP markup;
    const char *p = text, *const end = text + size;
    const auto skip_past = [&](const char *from, const char *close) {
        const void *found = memmem(from, size_t(end - from), close, strlen(close));
        return found ? static_cast<const char *>(found) + strlen(close) : end;
    };
    const auto opens = [&](const char *with) { return size_t(end - p) >= strlen(with) && memcmp(p, with, strlen(with)) == 0; };
    while (p < end && (p = static_cast<const char *>(memchr(p, '<', size_t(end - p))))) {
        ++p;
        if (opens("!--")) {
            p = skip_past(p + 3, "-->");
        } else if (opens("![CDATA[")) {
            p = skip_past(p + 8, "]]>");
        } else if (opens("?")) {
            p = skip_past(p + 1, "?>");
        } else {
            int attributes = 0;
            for (; p < end && *p != '>' && *p != '<'; ++p) {
                if (*p != '"' && *p != '\'')
                    continue;
                // The name before the value: "xmlns", or "xmlns:" and a prefix, declares a namespace.
                const char *name_end = p;
                while (name_end > text && (is_blank(name_end[-1]) || name_end[-1] == '='))
                    --name_end;
                const char *name = name_end;
                while (name > text && !is_blank(name[-1]) && name[-1] != '<' && name[-1] != '"' && name[-1] != '\'')
                    --name;
                const bool declaration = name_end - name >= 5 && memcmp(name, "xmlns", 5) == 0
                                         && (name_end - name == 5 || name[5] == ':');
                ++(declaration ? markup.namespaces : attributes);
                const void *close = memchr(p + 1, *p, size_t(end - p - 1));
                p = close ? static_cast<const char *>(close) : end - 1;
            }
            markup.most_attributes = std::max(markup.most_attributes, attributes);
        }
    }
    return markup;
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
