#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "attribute.h"
#include "gl_param.h"
#include "global_parser.h"
#include "log_capture.h"
#include "process_file.h"
#include "tree_builder.h"
#include "xml_input_handler.h"
#include "xml_reader.h"

class TstXml : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void records_data();
    void records();
    void description_errors_data();
    void description_errors();
    void nesting_limit();
    void refused_data();
    void refused();
};

void TstXml::initTestCase()
{
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

struct Result {
    bool parsed;
    QByteArray output;
    QString log;
};

/// Converts the document with one EVENT measurement made of the given MATCH and COLUMNS
/// blocks, through the real output files; returns the data file and the log.
static Result convert(const QByteArray &blocks, const QByteArray &xml)
{
    static QByteArray config;
    config = "GLOBALS { COLUMN_SEPARATOR \"|\" }\nINPUTFILE \"x\" { GENERATES MEASUREMENT {\n"
             "MEASUREMENTNAME \"m\" GRANULARITY EVENT\n" + blocks + "\n} }\n";
    free_tree(GL_param.description_root);
    GL_param.description_root = nullptr;
    FILE *in = fmemopen(config.data(), size_t(config.size()), "rb");
    const int parsed_config = parse_configuration(in);
    fclose(in);
    Q_ASSERT(parsed_config == 0);

    QTemporaryDir dir;
    GL_param.output_path = dir.path();
    GL_param.file_time = QDateTime(QDate(2011, 11, 10), QTime(13, 45));
    GL_param.current_inputfile = GL_param.description_root;

    Result result;
    LogCapture capture;
    PROCESS_FILE process;
    if (process.open_output_files(GL_param.current_inputfile) != 0)
        qFatal("output files not opened");
    XMLInputHandler handler;
    result.parsed = XML_READER(&handler).parse(xml);
    process.close_output_files(GL_param.current_inputfile);
    process.publish_output_files(GL_param.current_inputfile);
    result.log = capture.text();
    QFile out(dir.path() + "//1111101345_E_m_.data");
    out.open(QIODevice::ReadOnly);
    result.output = out.readAll();
    return result;
}

void TstXml::records_data()
{
    QTest::addColumn<QByteArray>("blocks");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("log");

    const QByteArray rec("MATCH { NEEDS \"r\" } ");
    QTest::newRow("MS_TO_UTC")
        << rec + "COLUMNS { CONVERTATTRIBUTE MS_TO_UTC ( \"r\" -> \"t\" ) \"t\" ATTRIBUTE ( \"r\" -> \"t\" ) \"raw\" }"
        << QByteArray("<d><r><t>0</t></r><r><t>1320932700000</t></r><r><t>fast</t></r></d>")
        << "t|raw\n700101 00:00|0\n111110 13:45|1320932700000\n700101 00:00|fast\n" << "";
    QTest::newRow("MS_TO_LOCAL")
        << rec + "COLUMNS { CONVERTATTRIBUTE MS_TO_LOCAL ( \"r\" -> \"t\" ) \"t\" }"
        << QByteArray("<d><r><t>0</t></r><r><t>1320932700000</t></r></d>")
        << "t\n700101 01:00\n111110 14:45\n" << "";
    QTest::newRow("STRING_TO_UTC and STRING_TO_LOCAL")
        << rec + "COLUMNS { CONVERTATTRIBUTE STRING_TO_UTC ( \"r\" -> \"t\", \"yyyy-MM-dd hh:mm:ss\" ) \"utc\" "
                 "CONVERTATTRIBUTE STRING_TO_LOCAL ( \"r\" -> \"t\", \"yyyy-MM-dd hh:mm:ss\" ) \"local\" }"
        << QByteArray("<d><r><t>2011-11-10 13:45:00</t></r><r><t>2011-07-01 13:45:00</t></r>"
                      "<r><t>10.11.2011</t></r></d>")
        << "utc|local\n111110 12:45|111110 13:45\n110701 11:45|110701 13:45\n|\n" << "";
    QTest::newRow("BOOLATTRIBUTE")
        << rec + "COLUMNS { BOOLATTRIBUTE ( \"r\" -> \"b\", \"true\" ) \"b\" }"
        << QByteArray("<d><r><b>true</b></r><r><b>True</b></r><r><b>true </b></r></d>")
        << "b\n1\n0\n0\n" << "";
    QTest::newRow("REGEXPATTRIBUTE")
        << rec + "COLUMNS { REGEXPATTRIBUTE ( \"r\" -> \"s\", \"([0-9]+)ms\" ) \"ms\" }"
        << QByteArray("<d><r><s>took 250ms</s></r><r><s>fast</s></r></d>")
        << "ms\n250\n\n"
        << "ERROR: regular expression for operator REGEXPATTRIBUTE( pointer, \"([0-9]+)ms\" ) \"ms\" "
           "needs EXACTLY ONE subexpression _ found -1 for fast\n";
    QTest::newRow("REGEXPATTRIBUTE without group")
        << rec + "COLUMNS { REGEXPATTRIBUTE ( \"r\" -> \"s\", \"[0-9]+\" ) \"n\" }"
        << QByteArray("<d><r><s>42</s></r></d>") << "n\n\n" << "";
    QTest::newRow("ARGATTRIBUTE: last local name wins, absent keeps the value")
        << rec + "COLUMNS { ARGATTRIBUTE ( \"r\", \"id\" ) \"id\" }"
        << QByteArray("<d xmlns:a=\"urn:a\" xmlns:b=\"urn:b\"><r a:id=\"1\" b:id=\"2\"/><r other=\"x\"/>"
                      "<r/><r id=\"3\"/></d>")
        << "id\n2\n2\n2\n3\n" << "";
    QTest::newRow("values repeat, empty before the first")
        << rec + "COLUMNS { ATTRIBUTE ( \"r\" -> \"a\" ) \"a\" ATTRIBUTE ( \"r\" -> \"b\" ) \"b\" }"
        << QByteArray("<d><r><b>1</b></r><r><a>x</a><b>2</b></r><r><b>3</b></r></d>")
        << "a|b\n|1\nx|2\nx|3\n" << "";
    QTest::newRow("block id in every record of its block")
        << QByteArray("MATCH { NEEDS \"blk\" -> \"v\" } COLUMNS { ARGATTRIBUTE ( \"blk\", \"id\" ) \"ID\" "
                      "ATTRIBUTE ( \"blk\" -> \"v\" ) \"VALUE\" }")
        << QByteArray("<d><blk id=\"A\"><v>1</v><v>2</v></blk><blk id=\"B\"><v>3</v></blk></d>")
        << "ID|VALUE\nA|1\nA|2\nB|3\n" << "";
    QTest::newRow("NEEDS in either order")
        << QByteArray("MATCH { NEEDS \"p\" AND NEEDS \"q\" } COLUMNS { ATTRIBUTE ( \"p\" ) \"p\" "
                      "ATTRIBUTE ( \"q\" ) \"q\" }")
        << QByteArray("<d><p>1</p><q>1</q><q>2</q><p>2</p><p>3</p></d>")
        << "p|q\n1|1\n2|2\n" << "";
    QTest::newRow("VOID first: a record at every element end")
        << QByteArray("MATCH { VOID } COLUMNS { ATTRIBUTE ( \"a\" ) \"a\" }")
        << QByteArray("<d><a>1</a><b/></d>") << "a\n1\n1\n1\n" << "";
    QTest::newRow("NEEDS without path is met at every end")
        << QByteArray("MATCH { NEEDS } COLUMNS { ATTRIBUTE ( \"a\" ) \"a\" }")
        << QByteArray("<d><a>1</a></d>") << "a\n1\n1\n" << "";
    QTest::newRow("text after a child: with and without whitespace")
        << QByteArray("MATCH { NEEDS \"R\" } COLUMNS { ATTRIBUTE ( \"R\" ) \"R\" }")
        << QByteArray("<d><R><a>x</a>\n  </R><R><a>y</a></R><R>one<a/>two</R></d>")
        << "R\n\n  \ny\ntwo\n" << "";
    QTest::newRow("entities and CDATA")
        << QByteArray("MATCH { NEEDS \"v\" } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" }")
        << QByteArray("<d><v>a &amp; b &#65;</v><v><![CDATA[<x>]]></v></d>") << "v\na & b A\n<x>\n" << "";
    QTest::newRow("no columns: bare line feeds")
        << QByteArray("MATCH { NEEDS \"v\" } COLUMNS { }") << QByteArray("<d><v/><v/></d>") << "\n\n\n" << "";
    QTest::newRow("UTC_FILESTAMP")
        << QByteArray("MATCH { NEEDS \"v\" } COLUMNS { UTC_FILESTAMP \"time\" ATTRIBUTE ( \"v\" ) \"v\" }")
        << QByteArray("<d><v>1</v><v>2</v></d>") << "time|v\n111110 13:45|1\n111110 13:45|2\n" << "";
    // XML 1.0 as it stands: line ends (2.11), attribute values (3.3.3), references
    // beyond U+FFFF, the internal subset, and every encoding libxml2 decodes.
    const QByteArray v_a("MATCH { NEEDS \"v\" } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" ARGATTRIBUTE ( \"v\", \"a\" ) \"a\" }");
    QTest::newRow("reference beyond U+FFFF")
        << v_a << QByteArray("<d><v a='&#x1F600;'>smile &#x1F600; end</v></d>")
        << QString::fromUtf8("v|a\nsmile \xF0\x9F\x98\x80 end|\xF0\x9F\x98\x80\n") << "";
    QTest::newRow("attribute blanks become spaces, references keep their character")
        << v_a << QByteArray("<d><v a='x\ty'/><v a='1\n2'/><v a='1\r\n2'/><v a='p&#9;q&#10;r'/></d>")
        << "v|a\n|x y\n|1 2\n|1 2\n|p\tq\nr\n" << "";
    QTest::newRow("CRLF and CR line ends become LF")
        << v_a << QByteArray("<d>\r\n<v>l1\r\nl2</v><v>cr\ronly&#13;</v></d>")
        << "v|a\nl1\nl2|\ncr\nonly\r|\n" << "";
    QTest::newRow("internal subset: entities, defaults; external DTD not read")
        << v_a << QByteArray("<!DOCTYPE d SYSTEM 'missing.dtd' [<!ENTITY e 'ent'><!ENTITY m 'x<v>in</v>y'>"
                             "<!ATTLIST v a CDATA 'def'>]><d><v a='&e;!'>a&e;b</v><v>&m;z</v></d>")
        << "v|a\naentb|ent!\nin|def\nyz|def\n" << "";
    QTest::newRow("ISO-8859-1") << v_a
        << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><d><v a='\xe9'>caf\xe9</v></d>")
        << QString::fromUtf8("v|a\ncaf\xC3\xA9|\xC3\xA9\n") << "";
    QTest::newRow("windows-1252") << v_a
        << QByteArray("<?xml version='1.0' encoding='windows-1252'?><d><v>\x80</v></d>")
        << QString::fromUtf8("v|a\n\xE2\x82\xAC|\n") << "";
    QTest::newRow("malformed: records before the error stay in the stream")
        << QByteArray("MATCH { NEEDS \"v\" } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" }")
        << QByteArray("<d><v>1</v>\n<v>2</w></d>") << "v\n1\n"
        << "ERROR: error detected in line 2 column 9: Opening and ending tag mismatch: v line 2 and w\n";
}

void TstXml::records()
{
    QFETCH(QByteArray, blocks);
    QFETCH(QByteArray, xml);
    QFETCH(QString, output);
    QFETCH(QString, log);
    const Result result = convert(blocks, xml);
    QCOMPARE(QString::fromUtf8(result.output), output);
    QCOMPARE(result.log, log);
}

void TstXml::description_errors_data()
{
    QTest::addColumn<QByteArray>("blocks");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("log");
    QTest::newRow("ATTRIBUTE without path stops at the first end")
        << QByteArray("MATCH { VOID } COLUMNS { ATTRIBUTE ( ) \"a\" }")
        << QByteArray("<d a=\"1\"><x/></d>") << "a\n"
        << "ERROR: POINTER subelement expected\n"
           "ERROR: error detected in line 1 column 14: error triggered by consumer\n";
    QTest::newRow("ARGATTRIBUTE without path stops at the first attribute")
        << QByteArray("MATCH { VOID } COLUMNS { ARGATTRIBUTE ( , \"a\" ) \"a\" }")
        << QByteArray("<d><x/><y a=\"1\"/></d>") << "a\n\n"
        << "ERROR: POINTER subelement expected\n"
           "ERROR: error detected in line 1 column 16: error triggered by consumer\n";
}

void TstXml::description_errors()
{
    records();
}

void TstXml::nesting_limit()
{
    QByteArray deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    const Result result = convert("MATCH { NEEDS \"v\" } COLUMNS { }", deep);
    QVERIFY(!result.parsed);
    // The reader reports a stop by the handler as a fatal error of its own.
    QCOMPARE(result.log, QString("ERROR: element nesting deeper than 4096 levels\n"
                                 "ERROR: error detected in line 1 column 12291: error triggered by consumer\n"));

    QByteArray allowed;
    for (int i = 0; i < 4096; ++i)
        allowed += "<a>";
    for (int i = 0; i < 4096; ++i)
        allowed += "</a>";
    QVERIFY(convert("MATCH { NEEDS \"v\" } COLUMNS { }", allowed).parsed);
}

// Not well-formed: refused with libxml2's message on one line, and no record. (Entity
// bombs, with their time and memory, are in the hostile-input tests.)
void TstXml::refused_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("log");
    QTest::newRow("Latin-1 byte in UTF-8") << QByteArray("<d><v>caf\xe9 au lait</v></d>")
        << "1 column 10: Input is not proper UTF-8, indicate encoding ! Bytes: 0xE9 0x20 0x61 0x75";
    QTest::newRow("NUL byte") << QByteArray("<d><v>a\0b</v></d>", 16) << "1 column 8: Char 0x0 out of allowed range";
    QTest::newRow("truncated") << QByteArray("<d><v>12") << "1 column 9: Premature end of data in tag v line 1";
    QTest::newRow("undeclared prefix") << QByteArray("<d><p:v>1</p:v></d>")
        << "1 column 8: Namespace prefix p on v is not defined";
    QTest::newRow("two colons") << QByteArray("<d xmlns:a='urn:a'><a:b:c/></d>")
        << "1 column 24: Failed to parse QName 'a:b:'";
    QTest::newRow("empty") << QByteArray("") << "1 column 1: Document is empty";
}

void TstXml::refused()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, log);
    const Result result = convert("MATCH { NEEDS \"v\" } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" }", xml);
    QVERIFY(!result.parsed);
    QCOMPARE(QString::fromUtf8(result.output), QString("v\n"));
    QCOMPARE(result.log, "ERROR: error detected in line " + log + "\n");
}

QTEST_APPLESS_MAIN(TstXml)
#include "tst_xml.moc"
