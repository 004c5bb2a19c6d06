#include "stamp_reader.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <memory>

#include "input_stream.h"

namespace {
struct SCAN {
    const std::vector<STAMP_SOURCE> *sources;
    /// The open elements: prefix and local name.
    std::vector<std::pair<QByteArray, QByteArray>> open;
    QByteArray value;
    QByteArray attribute;
    bool found = false;
};

bool ends_with(const std::vector<std::pair<QByteArray, QByteArray>> &open, const STAMP_SOURCE &source)
{
    if (source.path.empty() || source.path.size() > open.size())
        return false;
    return std::equal(source.path.rbegin(), source.path.rend(), open.rbegin());
}

void on_start(void *context, const xmlChar *local, const xmlChar *prefix, const xmlChar *, int, const xmlChar **,
              int count, int, const xmlChar **attributes)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    SCAN &scan = *static_cast<SCAN *>(ctxt->_private);
    scan.open.emplace_back(prefix ? QByteArray(reinterpret_cast<const char *>(prefix)) : QByteArray(),
                           QByteArray(reinterpret_cast<const char *>(local)));
    for (const STAMP_SOURCE &source : *scan.sources) {
        if (!ends_with(scan.open, source))
            continue;
        // Of several attributes with that local name the last one holds, as for columns.
        for (int i = count - 1; i >= 0; --i) {
            const xmlChar **a = attributes + 5 * i;
            if (source.attribute == reinterpret_cast<const char *>(a[0])) {
                scan.value = QByteArray(reinterpret_cast<const char *>(a[3]), int(a[4] - a[3]));
                scan.attribute = source.attribute;
                scan.found = true;
                xmlStopParser(ctxt);
                return;
            }
        }
    }
}

void on_end(void *context, const xmlChar *, const xmlChar *, const xmlChar *)
{
    SCAN &scan = *static_cast<SCAN *>(static_cast<xmlParserCtxtPtr>(context)->_private);
    if (!scan.open.empty())
        scan.open.pop_back();
}

void quiet(void *, xmlErrorPtr) {}

xmlParserInputPtr no_entity(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}
} // namespace

bool find_stamp(INPUT_STREAM &input, const std::vector<STAMP_SOURCE> &sources, QByteArray *value, QByteArray *attribute)
{
    std::unique_ptr<char[]> head(new char[STAMP_SCAN_BYTES]);
    long size = 0;
    for (long n; size < STAMP_SCAN_BYTES && (n = input.read(head.get() + size, size_t(STAMP_SCAN_BYTES - size))) > 0;)
        size += n;
    xmlSAXHandler sax = {};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = on_start;
    sax.endElementNs = on_end;
    sax.serror = quiet;
    xmlSetExternalEntityLoader(no_entity);
    SCAN scan;
    scan.sources = &sources;
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
    if (!ctxt)
        return false;
    // The context is what the callbacks get: with it they can stop the parse.
    ctxt->userData = ctxt;
    ctxt->_private = &scan;
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlParseChunk(ctxt, head.get(), int(size), 0);
    xmlFreeDoc(ctxt->myDoc);
    xmlFreeParserCtxt(ctxt);
    if (scan.found) {
        *value = scan.value;
        *attribute = scan.attribute;
    }
    return scan.found;
}
