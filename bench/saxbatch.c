/* The least a converter of these files spends on parsing: each file named on the command
 * line is parsed in this one process by libxml2's SAX2 reader, with callbacks that do nothing.
 *   cc -O2 bench/saxbatch.c $(pkg-config --cflags --libs libxml-2.0) -o saxbatch
 *   saxbatch FILE...    status 1 if a file is not well-formed */
#include <libxml/parser.h>
#include <stdio.h>
#include <string.h>

static void start(void *ctx, const xmlChar *name, const xmlChar *prefix, const xmlChar *uri,
                  int namespaces, const xmlChar **ns, int attributes, int defaulted,
                  const xmlChar **values)
{
    (void)ctx, (void)name, (void)prefix, (void)uri, (void)namespaces, (void)ns;
    (void)attributes, (void)defaulted, (void)values;
}

static void end(void *ctx, const xmlChar *name, const xmlChar *prefix, const xmlChar *uri)
{
    (void)ctx, (void)name, (void)prefix, (void)uri;
}

static void text(void *ctx, const xmlChar *chars, int len)
{
    (void)ctx, (void)chars, (void)len;
}

int main(int argc, char **argv)
{
    xmlSAXHandler sax;
    int failed = 0;

    memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = start;
    sax.endElementNs = end;
    sax.characters = text;
    for (int i = 1; i < argc; i++)
        if (xmlSAXUserParseFile(&sax, NULL, argv[i]) != 0) {
            fprintf(stderr, "%s: not well-formed\n", argv[i]);
            failed = 1;
        }
    xmlCleanupParser();
    return failed;
}
