#include "fast_reader.h"

#include <QFile>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <unistd.h>

#include "xml_input_handler.h"

/// Finds character references beyond U+FFFF, which QXmlSimpleReader cuts to 16 bits,
/// in the raw input, across the pieces in which it is read.
struct ReferenceScanner {
    enum { Idle, Ampersand, Hash, Digits } state = Idle;
    bool hex = false;
    unsigned long value = 0;

    /// True when the bytes complete such a reference.
    bool wide(const char *p, size_t size)
    {
        const char *end = p + size;
        while (p < end) {
            if (state == Idle) {
                p = static_cast<const char *>(memchr(p, '&', size_t(end - p)));
                if (!p)
                    return false;
                state = Ampersand;
            } else if (state == Ampersand) {
                state = *p == '#' ? Hash : Idle;
                if (state == Idle)
                    continue; // look at this byte again: it may be another '&'
            } else if (state == Hash) {
                hex = *p == 'x';
                value = 0;
                state = Digits;
                if (!hex)
                    continue;
            } else if (*p == ';' || !isxdigit(static_cast<unsigned char>(*p))) {
                state = Idle;
                continue;
            } else {
                value = value * (hex ? 16 : 10) + unsigned(isdigit(*p) ? *p - '0' : tolower(*p) - 'a' + 10);
                if (value > 0xFFFF)
                    return true;
            }
            ++p;
        }
        return false;
    }
};

struct FastReader::Private {
    XMLInputHandler *handler;
    int fd = -1;
    ReferenceScanner references;
    xmlParserCtxtPtr ctxt = nullptr;
    bool failed = false;
    const char *reason = nullptr;
    /// Text since the last markup: QXmlSimpleReader reports each such run in one piece.
    std::string pending;
    /// libxml2 interns names, so a name's pointers identify it for the whole parse.
    struct NameSlot {
        const void *prefix = nullptr;
        const void *local = nullptr;
        QString name;
    };
    NameSlot names[256];
    /// Indentation repeats all through a file; its few forms are kept converted, by length.
    struct BlankSlot {
        QByteArray bytes;
        QString text;
    };
    BlankSlot blanks[65];
    const QString empty;

    const QString &name(const xmlChar *prefix, const xmlChar *local);
    bool flush();
    void stop(const char *why = "stopped by handler");
};

const QString &FastReader::Private::name(const xmlChar *prefix, const xmlChar *local)
{
    const quintptr hash = (quintptr(local) >> 4) ^ (quintptr(prefix) >> 6);
    NameSlot &slot = names[hash & 255];
    if (slot.local != local || slot.prefix != prefix) {
        QByteArray qname = prefix ? QByteArray(reinterpret_cast<const char *>(prefix)) + ":" : QByteArray();
        qname += reinterpret_cast<const char *>(local);
        slot.prefix = prefix;
        slot.local = local;
        slot.name = QString::fromUtf8(qname);
    }
    return slot.name;
}

void FastReader::Private::stop(const char *why)
{
    if (!failed)
        reason = why;
    failed = true;
    xmlStopParser(ctxt);
}

static bool is_blank(const std::string &text)
{
    for (char c : text) {
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r')
            return false;
    }
    return true;
}

bool FastReader::Private::flush()
{
    if (pending.empty())
        return true;
    bool ok;
    const int size = int(pending.size());
    if (size <= 64 && is_blank(pending)) {
        BlankSlot &slot = blanks[size];
        if (slot.bytes.size() != size || memcmp(slot.bytes.constData(), pending.data(), size_t(size)) != 0) {
            slot.bytes = QByteArray(pending.data(), size);
            slot.text = QString::fromUtf8(slot.bytes);
        }
        ok = handler->characters(slot.text);
    } else {
        ok = handler->characters(QString::fromUtf8(pending.data(), size));
    }
    pending.clear();
    if (!ok)
        stop();
    return ok;
}

static FastReader::Private *reader(void *ctx)
{
    return static_cast<FastReader::Private *>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

static void on_start_document(void *ctx)
{
    xmlParserCtxtPtr ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    // Other encodings are left to QXmlSimpleReader's own decoders.
    if (ctxt->input && ctxt->input->buf && ctxt->input->buf->encoder)
        reader(ctx)->stop("encoding");
    else if (!reader(ctx)->handler->startDocument())
        reader(ctx)->stop();
}

static void on_end_document(void *ctx)
{
    if (!reader(ctx)->failed && !reader(ctx)->handler->endDocument())
        reader(ctx)->stop();
}

static void on_internal_subset(void *ctx, const xmlChar *, const xmlChar *, const xmlChar *)
{
    // Entities and defaults of a DTD are QXmlSimpleReader's business.
    reader(ctx)->stop("document type declaration");
}

/// True when a quoted attribute value of the start tag that ends at the parser's position
/// holds a tab or line feed, which libxml2 turns into blanks and QXmlSimpleReader keeps.
static bool raw_blank_in_values(xmlParserCtxtPtr ctxt)
{
    const xmlChar *begin = ctxt->input->base;
    const xmlChar *tag = ctxt->input->cur;
    while (tag > begin && *tag != '<')
        --tag;
    if (*tag != '<')
        return true; // the tag is not in the buffer any more: assume the worst
    xmlChar quote = 0;
    for (const xmlChar *p = tag; p < ctxt->input->cur; ++p) {
        if (quote) {
            if (*p == quote)
                quote = 0;
            else if (*p == '\t' || *p == '\n')
                return true;
        } else if (*p == '"' || *p == '\'') {
            quote = *p;
        }
    }
    return false;
}

/// libxml2's attribute array: local name, prefix, URI, value and value end per attribute.
class LibxmlAttributes : public AttributeView {
public:
    LibxmlAttributes(const xmlChar **attributes, int count) : attributes(attributes), number(count) {}
    int count() const override { return number; }
    bool last_value(const QString &local_name, QString *value) const override
    {
        for (int i = number - 1; i >= 0; --i) {
            const xmlChar **a = attributes + 5 * i;
            if (equals(local_name, reinterpret_cast<const char *>(a[0]))) {
                const char *begin = reinterpret_cast<const char *>(a[3]);
                *value = QString::fromUtf8(begin, int(reinterpret_cast<const char *>(a[4]) - begin));
                return true;
            }
        }
        return false;
    }

private:
    static bool equals(const QString &name, const char *utf8)
    {
        const QChar *c = name.constData();
        const int size = name.size();
        int i = 0;
        for (; i < size && utf8[i] && uchar(utf8[i]) < 0x80; ++i) {
            if (c[i].unicode() != ushort(utf8[i]))
                return false;
        }
        if (i == size && !utf8[i])
            return true;
        return utf8[i] && uchar(utf8[i]) >= 0x80 && name == QString::fromUtf8(utf8);
    }

    const xmlChar **attributes;
    int number;
};

class NoAttributes : public AttributeView {
public:
    int count() const override { return 0; }
    bool last_value(const QString &, QString *) const override { return false; }
};

static void on_start_element(void *ctx, const xmlChar *localname, const xmlChar *prefix,
                             const xmlChar *, int, const xmlChar **, int nb_attributes,
                             int, const xmlChar **attributes)
{
    FastReader::Private *r = reader(ctx);
    if (r->failed || !r->flush())
        return;
    const QString &qname = r->name(prefix, localname);
    // Where no attribute column can match, the handler does nothing with attributes: it
    // is then handed none.
    bool ok;
    if (nb_attributes > 0 && r->handler->wants_attributes(qname)) {
        if (raw_blank_in_values(static_cast<xmlParserCtxtPtr>(ctx))) {
            r->stop("blank in attribute value");
            return;
        }
        ok = r->handler->start_element(qname, LibxmlAttributes(attributes, nb_attributes));
    } else {
        ok = r->handler->start_element(qname, NoAttributes());
    }
    if (!ok)
        r->stop();
}

static void on_end_element(void *ctx, const xmlChar *localname, const xmlChar *prefix, const xmlChar *)
{
    FastReader::Private *r = reader(ctx);
    if (r->failed || !r->flush())
        return;
    if (!r->handler->endElement(r->empty, r->empty, r->name(prefix, localname)))
        r->stop();
}

static void on_characters(void *ctx, const xmlChar *text, int length)
{
    reader(ctx)->pending.append(reinterpret_cast<const char *>(text), size_t(length));
}

static void on_cdata(void *ctx, const xmlChar *text, int length)
{
    FastReader::Private *r = reader(ctx);
    if (r->failed || !r->flush())
        return;
    if (!r->handler->characters(QString::fromUtf8(reinterpret_cast<const char *>(text), length)))
        r->stop();
}

static void on_markup(void *ctx)
{
    FastReader::Private *r = reader(ctx);
    if (!r->failed)
        r->flush();
}

static void on_comment(void *ctx, const xmlChar *)
{
    on_markup(ctx);
}

static void on_processing_instruction(void *ctx, const xmlChar *, const xmlChar *)
{
    on_markup(ctx);
}

static void on_reference(void *ctx, const xmlChar *)
{
    reader(ctx)->stop("entity reference");
}

static void on_error(void *ctx, xmlErrorPtr)
{
    // Any diagnostic, a warning too: the document goes to QXmlSimpleReader.
    xmlParserCtxtPtr ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt && ctxt->_private)
        reader(ctx)->stop("parser diagnostic");
}

static void silent(void *, const char *, ...) {}

static int read_input(void *context, char *buffer, int length)
{
    FastReader::Private *r = static_cast<FastReader::Private *>(context);
    ssize_t n;
    do
        n = read(r->fd, buffer, size_t(length));
    while (n < 0 && errno == EINTR);
    // QXmlSimpleReader keeps carriage returns where libxml2 normalises line ends.
    if (n > 0 && memchr(buffer, '\r', size_t(n))) {
        r->reason = "carriage return";
        r->failed = true;
        return -1;
    }
    if (n > 0 && r->references.wide(buffer, size_t(n))) {
        r->reason = "character reference beyond U+FFFF";
        r->failed = true;
        return -1;
    }
    return int(n);
}

static int close_input(void *)
{
    return 0;
}

FastReader::FastReader(XMLInputHandler *handler) : d(new Private)
{
    d->handler = handler;
}

QString FastReader::reason() const
{
    return QString::fromLatin1(d->reason ? d->reason : "");
}

FastReader::~FastReader()
{
    delete d;
}

bool FastReader::parse(const QString &path)
{
    d->failed = false;
    d->reason = nullptr;
    d->fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (d->fd < 0) {
        d->reason = "unreadable";
        return false;
    }
    xmlSAXHandler sax;
    memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startDocument = on_start_document;
    sax.endDocument = on_end_document;
    sax.internalSubset = on_internal_subset;
    sax.startElementNs = on_start_element;
    sax.endElementNs = on_end_element;
    sax.characters = on_characters;
    sax.ignorableWhitespace = on_characters;
    sax.cdataBlock = on_cdata;
    sax.comment = on_comment;
    sax.processingInstruction = on_processing_instruction;
    sax.reference = on_reference;
    sax.serror = on_error;
    sax.warning = silent;
    sax.error = silent;
    sax.fatalError = silent;
    xmlSetGenericErrorFunc(nullptr, silent);

    d->ctxt = xmlCreateIOParserCtxt(&sax, nullptr, read_input, close_input, d, XML_CHAR_ENCODING_NONE);
    if (!d->ctxt) {
        close(d->fd);
        d->reason = "unreadable";
        return false;
    }
    d->ctxt->_private = d;
    d->ctxt->userData = d->ctxt;
    // Without a DTD (which stops this reader) NOENT only makes libxml2 hand over attribute
    // values with their character and predefined entity references resolved. OLD10 keeps
    // to the name characters of XML 1.0 before its fifth edition, as QXmlSimpleReader does.
    xmlCtxtUseOptions(d->ctxt, XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_OLD10);
    xmlParseDocument(d->ctxt);
    if (!d->failed && !d->ctxt->wellFormed)
        d->stop("parser diagnostic");
    const bool ok = !d->failed;
    d->ctxt->_private = nullptr;
    xmlFreeDoc(d->ctxt->myDoc);
    xmlFreeParserCtxt(d->ctxt);
    d->ctxt = nullptr;
    close(d->fd);
    return ok;
}
