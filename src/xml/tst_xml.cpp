#include <QtTest>

#include "gl_param.h"
#include "global_parser.h"
#include "log_capture.h"
#include "data_file.h"
#include "description.h"
#include "tree_builder.h"
#include "xml_input_handler.h"
#include "xml_reader.h"

class TstXml : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("TZ", "Europe/Berlin"); tzset(); }
    void records_data();
    void records();
    void index_data();
    void index();
    void markup_data();
    void markup();
};

/// Records of the one measurement into one file.
class ONE_FILE : public RECORD_SINK {
public:
    explicit ONE_FILE(int fd) : file(fd) {}
    DATA_FILE &records(size_t) override { return file; }
    QString output_name(size_t) const override { return "out"; }

private:
    DATA_FILE file;
};

static void row(const char *name, const QByteArray &blocks, const QByteArray &xml, const QString &output,
                const QString &log = QString(), const QByteArray &globals = QByteArray())
{
    QTest::newRow(name) << blocks << xml << output << log << globals;
}

void TstXml::records_data()
{
    QTest::addColumn<QByteArray>("blocks");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QByteArray>("globals");
    const QByteArray r("MATCH { NEEDS \"r\" } COLUMNS { ");
    row("MS_TO_UTC and MS_TO_LOCAL", r + "CONVERTATTRIBUTE MS_TO_UTC ( \"r\" -> \"t\" ) \"t\" "
        "CONVERTATTRIBUTE MS_TO_LOCAL ( \"r\" -> \"t\" ) \"local\" ATTRIBUTE ( \"r\" -> \"t\" ) \"raw\" }",
        "<d><r><t>0</t></r><r><t>1320932700000</t></r><r><t>fast</t></r></d>",
        "t|local|raw\n700101 00:00|700101 01:00|0\n111110 13:45|111110 14:45|1320932700000\n||fast\n");
    row("ISO8601_TO_UTC and ISO8601_TO_LOCAL, from attributes and text", r + "CONVERTATTRIBUTE ISO8601_TO_UTC ( \"r\", \"e\" ) \"u\" "
        "CONVERTATTRIBUTE ISO8601_TO_LOCAL ( \"r\" -> \"t\" ) \"l\" }",
        "<d><r e='2024-06-11T14:15:00+02:00'><t>2024-06-11 14:15:30.5Z</t></r><r e='2024-06-11T14:15+0530'><t>2011-11-10T13:45</t></r>"
        "<r e='2024-06-11'><t>2011-11-10T13:45:00-01</t></r></d>",
        "u|l\n240611 12:15|240611 16:15\n240611 08:45|111110 13:45\n|111110 15:45\n");
    row("alternatives write one field, the last set wins", r + "ARGATTRIBUTE ( \"a\", \"id\" ) OR ( \"b\", \"id\" ) \"id\" "
        "ATTRIBUTE ( \"x\" ) OR ( \"y\" ) \"t\" }",
        "<d><a id='1'/><x>p</x><r/><b id='2'/><y>q</y><r/><a id='3'/><r/></d>", "id|t\n1|p\n2|q\n3|q\n");
    row("KEEP and DROP, per list item", "MATCH { NEEDS \"r\" } COLUMNS { LISTATTRIBUTE ( \"r\" ) \"c\" ARGATTRIBUTE ( \"r\", \"n\" ) \"n\" } "
        "KEEP \"c\" MATCHING \"^pm\" DROP \"n\" MATCHING \"2\"",
        "<d><r n='1'>pmA x pmB</r><r n='2'>pmC</r></d>", "c|n\npmA|1\npmB|1\n");
    row("STRING_TO_UTC and STRING_TO_LOCAL", r + "CONVERTATTRIBUTE STRING_TO_UTC ( \"r\" -> \"t\", \"yyyy-MM-dd hh:mm:ss\" ) \"utc\" "
        "CONVERTATTRIBUTE STRING_TO_LOCAL ( \"r\" -> \"t\", \"yyyy-MM-dd hh:mm:ss\" ) \"local\" }",
        "<d><r><t>2011-11-10 13:45:00</t></r><r><t>2011-07-01 13:45:00</t></r><r><t>10.11.2011</t></r></d>",
        "utc|local\n111110 12:45|111110 13:45\n110701 11:45|110701 13:45\n|\n");
    row("BOOLATTRIBUTE", r + "BOOLATTRIBUTE ( \"r\" -> \"b\", \"true\" ) \"b\" }",
        "<d><r><b>true</b></r><r><b>True</b></r><r><b>true </b></r></d>", "b\n1\n0\n0\n");
    row("REGEXPATTRIBUTE", r + "REGEXPATTRIBUTE ( \"r\" -> \"s\", \"([0-9]+)ms\" ) \"ms\" }",
        "<d><r><s>took 250ms</s></r><r><s>fast</s></r></d>", "ms\n250\n\n",
        "ERROR: regular expression for operator REGEXPATTRIBUTE( pointer, \"([0-9]+)ms\" ) \"ms\" "
        "needs EXACTLY ONE subexpression _ found -1 for fast\n");
    row("REGEXPATTRIBUTE without group", r + "REGEXPATTRIBUTE ( \"r\" -> \"s\", \"[0-9]+\" ) \"n\" }",
        "<d><r><s>42</s></r></d>", "n\n\n");
    row("ARGATTRIBUTE: last local name wins, absent keeps the value", r + "ARGATTRIBUTE ( \"r\", \"id\" ) \"id\" }",
        "<d xmlns:a=\"urn:a\" xmlns:b=\"urn:b\"><r a:id=\"1\" b:id=\"2\"/><r other=\"x\"/><r/><r id=\"3\"/></d>",
        "id\n2\n2\n2\n3\n");
    row("values repeat, empty before the first", r + "ATTRIBUTE ( \"r\" -> \"a\" ) \"a\" ATTRIBUTE ( \"r\" -> \"b\" ) \"b\" }",
        "<d><r><b>1</b></r><r><a>x</a><b>2</b></r><r><b>3</b></r></d>", "a|b\n|1\nx|2\nx|3\n");
    // ABSENT_VALUES EMPTY: a value belongs to the elements of its record.
    const QByteArray empty("ABSENT_VALUES EMPTY");
    row("EMPTY: an absent attribute, an absent child", r + "ARGATTRIBUTE ( \"r\", \"id\" ) \"id\" "
        "ATTRIBUTE ( \"r\" -> \"a\" ) \"a\" }", "<d><r id='1'><a>x</a></r><r/><r id='3'><a>y</a></r></d>",
        "id|a\n1|x\n|\n3|y\n", QString(), empty);
    row("EMPTY: an absent list gives no record", r + "ARGATTRIBUTE ( \"r\", \"id\" ) \"id\" LISTATTRIBUTE ( \"r\" -> \"l\" ) \"l\" }",
        "<d><r id='1'><l>p q</l></r><r id='2'/></d>", "id|l\n1|p\n1|q\n", QString(), empty);
    row("EMPTY: a one-step path is emptied only where its element starts", r + "ARGATTRIBUTE ( \"g\", \"id\" ) \"g\" }",
        "<d><g id='1'/><r/><g/><r/></d>", "g\n1\n\n", QString(), empty);
    row("KEEP, as without the setting", r + "ARGATTRIBUTE ( \"r\", \"id\" ) \"id\" }",
        "<d><r id='1'/><r/></d>", "id\n1\n1\n", QString(), "ABSENT_VALUES EMPTY ABSENT_VALUES KEEP");
    // AT_END: a flag after the values of its object belongs to their records.
    const QByteArray suspect("MATCH { NEEDS \"mv\" -> \"r\" } COLUMNS { ARGATTRIBUTE ( \"mv\", \"o\" ) \"o\" "
                             "ATTRIBUTE ( \"mv\" -> \"r\" ) \"v\" ATTRIBUTE ( \"mv\" -> \"sf\" ) \"sf\" AT_END }");
    const QByteArray objects("<md><mv o='A'><r>1</r><r>2</r><sf>yes</sf></mv><mv o='B'><r>3</r></mv></md>");
    row("AT_END: held until the group ends", suspect, objects, "o|v|sf\nA|1|yes\nA|2|yes\nB|3|yes\n");
    row("AT_END and EMPTY: each object its own flag", suspect, objects, "o|v|sf\nA|1|yes\nA|2|yes\nB|3|\n", QString(), empty);
    row("AT_END: records outside a group are written at once", "MATCH { NEEDS \"r\" } COLUMNS { ATTRIBUTE ( \"r\" ) \"v\" ATTRIBUTE ( \"mv\" -> \"sf\" ) \"sf\" AT_END }",
        "<md><r>1</r><mv><sf>a</sf><r>2</r><sf>b</sf></mv><r>3</r></md>", "v|sf\n1|\n2|b\n3|b\n");
    // "#": an element's position among its parent's children of its name, from 1.
    row("\"#\" pairs names and values by order", "MATCH { NEEDS \"mv\" -> \"r\" } COLUMNS { "
        "MAPATTRIBUTE ( \"mi\" -> \"mt\", \"#\" ) ( \"mv\" -> \"r\", \"#\" ) \"counter\" ARGATTRIBUTE ( \"mv\" -> \"r\", \"#\" ) \"at\" "
        "ATTRIBUTE ( \"mv\" -> \"r\" ) \"value\" }",
        "<md><mi><mt>a</mt><mt>b</mt><mv><r>1</r><x/><r>2</r><r>3</r></mv><mv><r>4</r></mv></mi><mi><mt>c</mt><mv><r>5</r></mv></mi></md>",
        "counter|at|value\na|1|1\nb|2|2\n|3|3\na|1|4\nc|1|5\n");
    row("\"#\" counts each name as paths give it, with its prefix", "MATCH { NEEDS \"r\" } COLUMNS { ARGATTRIBUTE ( \"r\", "
        "\"id\" ) \"id\" ARGATTRIBUTE ( \"r\", \"#\" ) \"n\" ARGATTRIBUTE ( \"q:r\", \"#\" ) \"qn\" }",
        "<g xmlns:q='urn:q'><r id='a'/><x/><q:r id='b'/><q:r id='c'/><r id='d'/></g>", "id|n|qn\na|1|\nd|2|2\n");
    row("NEEDS in either order", "MATCH { NEEDS \"p\" AND NEEDS \"q\" } COLUMNS { ATTRIBUTE ( \"p\" ) \"p\" ATTRIBUTE ( \"q\" ) \"q\" }",
        "<d><p>1</p><q>1</q><q>2</q><p>2</p><p>3</p></d>", "p|q\n1|1\n2|2\n");
    row("VOID first: a record at every element end", "MATCH { VOID } COLUMNS { ATTRIBUTE ( \"a\" ) \"a\" }",
        "<d><a>1</a><b/></d>", "a\n1\n1\n1\n");
    row("NEEDS without path is met at every end", "MATCH { NEEDS } COLUMNS { ATTRIBUTE ( \"a\" ) \"a\" }",
        "<d><a>1</a></d>", "a\n1\n1\n");
    row("path anchored at the innermost element, prefix part of the name",
        "MATCH { NEEDS \"item\" -> \"value\" } COLUMNS { ATTRIBUTE ( \"item\" -> \"value\" ) \"v\" }",
        "<r xmlns:p='urn:p'><l><item><value>1</value></item><value>2</value></l><o><item><value>3</value></item></o>"
        "<p:item><value>4</value></p:item><Item><value>5</value></Item></r>", "v\n1\n3\n");
    row("text after a child: with and without whitespace", "MATCH { NEEDS \"R\" } COLUMNS { ATTRIBUTE ( \"R\" ) \"R\" }",
        "<d><R><a>x</a>\n  </R><R><a>y</a></R><R>one<a/>two</R></d>", "R\n\n  \ny\ntwo\n");
    const QByteArray v("MATCH { NEEDS \"v\" } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" }");
    row("entities and CDATA", v, "<d><v>a &amp; b &#65;</v><v><![CDATA[<x>]]></v></d>", "v\na & b A\n<x>\n");
    // Lists: one record per item of the longest list, items paired by position.
    const QByteArray lists("MATCH { NEEDS \"v\" -> \"res\" } COLUMNS { ARGATTRIBUTE ( \"v\", \"o\" ) \"o\" LISTINDEX \"i\" "
                           "LISTATTRIBUTE ( \"types\" ) \"t\" LISTATTRIBUTE ( \"v\" -> \"res\" ) \"r\" }");
    row("lists of unequal length, white space runs", lists,
        "<i><types>\r\n a\tb \n c </types><v o='1'><res>10 20</res></v><v o='2'><res>1 2 3 4</res></v>"
        "<v o='3'><res/></v><v o='4'><res> </res></v></i>",
        "o|i|t|r\n1|1|a|10\n1|2|b|20\n1|3|c|\n2|1|a|1\n2|2|b|2\n2|3|c|3\n2|4||4\n3|1|a|\n3|2|b|\n3|3|c|\n"
        "4|1|a|\n4|2|b|\n4|3|c|\n");
    row("no items, no record; the NEEDS marks reset", "MATCH { NEEDS \"a\" AND NEEDS \"b\" } COLUMNS { "
        "LISTATTRIBUTE ( \"a\" ) \"a\" ATTRIBUTE ( \"b\" ) \"b\" }",
        "<d><a/><b>1</b><a>x</a><b>2</b></d>", "a|b\nx|2\n");
    row("LISTINDEX without list columns is empty", "MATCH { NEEDS \"v\" } COLUMNS { LISTINDEX \"i\" ATTRIBUTE ( \"v\" ) \"v\" }",
        "<d><v>1</v></d>", "i|v\n|1\n");
    // Keyed look-ups: a table per entries' parent, emptied at its start.
    const QByteArray map("MATCH { NEEDS \"v\" -> \"r\" } COLUMNS { MAPATTRIBUTE ( \"info\" -> \"type\", \"p\" ) "
                         "( \"v\" -> \"r\", \"p\" ) \"c\" ATTRIBUTE ( \"v\" -> \"r\" ) \"r\" }");
    row("map: a missing key, no attribute, the last entry wins, a table per block", map,
        "<f><info><type p='1'>x</type><type p='2'>y</type><type p='2'>z</type><type>n</type>"
        "<v><r p='2'>1</r><r p='3'>2</r><r>3</r><r p='1'>4</r></v></info>"
        "<info><type p='9'>w</type><v><r p='1'>5</r><r p='9'>6</r></v></info></f>",
        "c|r\nz|1\n|2\n|3\nx|4\n|5\nw|6\n");
    row("map: a one-step entry path lasts the file; emptying comes before the look-up",
        "MATCH { NEEDS \"r\" } COLUMNS { MAPATTRIBUTE ( \"type\", \"p\" ) ( \"r\", \"p\" ) \"one\" "
        "MAPATTRIBUTE ( \"r\" -> \"e\", \"k\" ) ( \"r\", \"k\" ) \"self\" }",
        "<f><b><type p='1'>x</type></b><b><r p='1' k='a'><e k='a'>old</e></r><r p='1' k='a'/></b></f>",
        "one|self\nx|\nx|\n");
    // XML 1.0 as it stands: line ends, attribute values, references, the internal subset, encodings.
    const QByteArray va("MATCH { NEEDS \"v\" } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" ARGATTRIBUTE ( \"v\", \"a\" ) \"a\" }");
    row("reference beyond U+FFFF", va, "<d><v a='&#x1F600;'>smile &#x1F600; end</v></d>",
        QString::fromUtf8("v|a\nsmile \xF0\x9F\x98\x80 end|\xF0\x9F\x98\x80\n"));
    row("attribute blanks become spaces, references keep their character", va,
        "<d><v a='x\ty'/><v a='1\n2'/><v a='1\r\n2'/><v a='p&#9;q&#10;r'/></d>", "v|a\n|x y\n|1 2\n|1 2\n|p\tq\nr\n");
    row("CRLF and CR line ends become LF", va, "<d>\r\n<v>l1\r\nl2</v><v>cr\ronly&#13;</v></d>", "v|a\nl1\nl2|\ncr\nonly\r|\n");
    row("internal subset: entities, defaults; external DTD not read", va,
        "<!DOCTYPE d SYSTEM 'missing.dtd' [<!ENTITY e 'ent'><!ENTITY m 'x<v>in</v>y'><!ATTLIST v a CDATA 'def'>]>"
        "<d><v a='&e;!'>a&e;b</v><v>&m;z</v></d>", "v|a\naentb|ent!\nin|def\nyz|def\n");
    row("ISO-8859-1", va, "<?xml version='1.0' encoding='ISO-8859-1'?><d><v a='\xe9'>caf\xe9</v></d>",
        QString::fromUtf8("v|a\ncaf\xC3\xA9|\xC3\xA9\n"));
    row("windows-1252", va, "<?xml version='1.0' encoding='windows-1252'?><d><v>\x80</v></d>",
        QString::fromUtf8("v|a\n\xE2\x82\xAC|\n"));
    // Description errors found during the parse stop it, as the handler's own stop.
    const QString at("ERROR: error detected in line "), no_path("ERROR: POINTER subelement expected\n" + at + "1 column ");
    const QString stop(": error triggered by consumer\n");
    row("ATTRIBUTE without path stops at the first end", "MATCH { VOID } COLUMNS { ATTRIBUTE ( ) \"a\" }",
        "<d a=\"1\"><x/></d>", "a\n", no_path + "14" + stop);
    row("ARGATTRIBUTE without path stops at the first attribute", "MATCH { VOID } COLUMNS { ARGATTRIBUTE ( , \"a\" ) \"a\" }",
        "<d><x/><y a=\"1\"/></d>", "a\n\n", no_path + "16" + stop);
    row("LISTATTRIBUTE without path stops at the first end", "MATCH { VOID } COLUMNS { LISTATTRIBUTE ( ) \"l\" }",
        "<d><x/></d>", "l\n", no_path + "8" + stop);
    row("MAPATTRIBUTE without a path stops at the first start",
        "MATCH { VOID } COLUMNS { MAPATTRIBUTE ( \"e\", \"k\" ) ( , \"k\" ) \"m\" }", "<d/>", "m\n", no_path + "3" + stop);
    // Not well-formed: libxml2's message on one line; records before the error stay written.
    row("tag mismatch", v, "<d><v>1</v>\n<v>2</w></d>", "v\n1\n", at + "2 column 9: Opening and ending tag mismatch: v line 2 and w\n");
    row("Latin-1 byte in UTF-8", v, "<d><v>caf\xe9 au lait</v></d>", "v\n",
        at + "1 column 10: Input is not proper UTF-8, indicate encoding ! Bytes: 0xE9 0x20 0x61 0x75\n");
    row("NUL byte", v, QByteArray("<d><v>a\0b</v></d>", 16), "v\n", at + "1 column 8: Char 0x0 out of allowed range\n");
    row("truncated", v, "<d><v>12", "v\n", at + "1 column 9: Premature end of data in tag v line 1\n");
    row("undeclared prefix", v, "<d><p:v>1</p:v></d>", "v\n", at + "1 column 8: Namespace prefix p on v is not defined\n");
    row("two colons", v, "<d xmlns:a='urn:a'><a:b:c/></d>", "v\n", at + "1 column 24: Failed to parse QName 'a:b:'\n");
    row("empty", v, "", "v\n", at + "1 column 1: Document is empty\n");
    row("4096 levels", v, QByteArray("<a>").repeated(4096) + QByteArray("</a>").repeated(4096), "v\n");
    row("4097 levels", v, QByteArray("<a>").repeated(5000), "v\n",
        "ERROR: element nesting deeper than 4096 levels\n" + at + "1 column 12291" + stop);
    // Bounds on what libxml2 would take quadratic time for, each met exactly.
    const auto many = [](const char *format, int count) {
        QByteArray text;
        for (int i = 1; i <= count; ++i)
            text += QByteArray(format).replace('%', QByteArray::number(i));
        return text;
    };
    const QByteArray x_default("<!DOCTYPE d [<!ATTLIST v x CDATA 'x'>]>");
    row("10000 attributes, a default among them", va, x_default + "<d><v" + many(" a%=''", 9999) + "/></d>", "v|a\n|\n");
    row("10001 attributes", va, x_default + "<d><v" + many(" a%=''", 10000) + "/></d>", "v|a\n",
        at + "1 column 88939: an element has more than 10000 attributes\n");
    const QByteArray in_entity("<!DOCTYPE d [<!ENTITY e '<v" + many(" a%=\"\"", 10000) + "/>'>]><d>&e;");
    row("10000 attributes in an entity", va, in_entity + "</d>", "v|a\n|\n");
    row("10001 attributes in an entity", va, QByteArray(in_entity).replace("/>'", " b=\"\"/>'") + "</d>", "v|a\n",
        at + "1 column 88931: an element has more than 10000 attributes\n");
    const QByteArray spaces("<d" + many(" xmlns:p%='u'", 999) + ">");
    row("1000 namespace declarations in scope", va, spaces + "<v xmlns:q='u'/><v xmlns:q='u'/></d>", "v|a\n|\n|\n");
    row("1001 namespace declarations in scope", va, spaces + "<v xmlns='u' xmlns:q='u'/></d>", "v|a\n",
        at + "1 column 14905: more than 1000 namespace declarations in scope\n");
    row("1001 namespace declarations with an entity's", va, "<!DOCTYPE d [<!ENTITY e \"<v xmlns:q='u' xmlns='u'/>\">]>" +
        spaces + "&e;</d>", "v|a\n", at + "1 column 14939: more than 1000 namespace declarations in scope\n");
    const QByteArray defaults("<!DOCTYPE d [<!ATTLIST v" + many(" a% CDATA ''", 100));
    row("101 attribute defaults", va, defaults + " b CDATA ''>]><d><v/></d>", "v|a\n",
        at + "1 column 1328: more than 100 attribute defaults for element v\n");
    row("100 attribute defaults, each counted like a reference", va, defaults + ">]><d>" + many("<v/>", 700) + "</d>",
        "v|a\n" + QString("|\n").repeated(681), at + "1 column 4049: entity expansion too large: 1091200 bytes of text from 4126 bytes of input\n");
    row("100001 distinct names", va, "<d>" + many("<n%/>", 100001) + "</d>", "v|a\n",
        at + "1 column 888913: more than 100000 distinct names\n");
}

/// Parses a configuration of one EVENT measurement "m" with these GLOBALS settings and
/// blocks into GL_param; the parser's result.
static int parse_measurement(const QByteArray &globals, const QByteArray &blocks)
{
    GL_param.empty_absent_values = false;
    QByteArray config = "GLOBALS { " + globals + " }\nINPUTFILE \"x\" { GENERATES MEASUREMENT {\n"
                        "MEASUREMENTNAME \"m\" GRANULARITY EVENT\n" + blocks + "\n} }\n";
    free_tree(GL_param.description_root);
    GL_param.description_root = nullptr;
    FILE *in = fmemopen(config.data(), size_t(config.size()), "rb");
    const int parsed = parse_configuration(in);
    fclose(in);
    return parsed;
}

// One EVENT measurement of the row's MATCH and COLUMNS blocks, through the real output files.
void TstXml::records()
{
    QFETCH(QByteArray, blocks);
    QFETCH(QByteArray, xml);
    QFETCH(QString, output);
    QFETCH(QString, log);
    QFETCH(QByteArray, globals);
    QCOMPARE(parse_measurement("COLUMN_SEPARATOR \"|\" " + globals, blocks), 0);
    QTemporaryFile out;
    QVERIFY(out.open());
    const DESCRIPTIONS descriptions(GL_param.description_root);
    ONE_FILE sink(dup(out.handle()));
    LogCapture capture;
    const MEASUREMENT_PLAN &plan = descriptions.all().front()->plans.front();
    sink.records(0).append(plan.header);
    XMLInputHandler handler(*descriptions.all().front(), "f.xml", "111110 13:45", sink);
    const bool parsed = XML_READER(&handler).parse(xml);
    QVERIFY(sink.records(0).finish(false));
    QCOMPARE(capture.text(), log);
    QCOMPARE(parsed, !log.contains("error detected"));
    QFile written(out.fileName());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(written.readAll()), output);
}

void TstXml::index_data()
{
    QTest::addColumn<QByteArray>("blocks");
    QTest::addColumn<QByteArray>("globals");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("actions");
    const QByteArray columns("COLUMNS { ATTRIBUTE ( \"r\" -> \"a\" ) \"a\" ARGATTRIBUTE ( \"r\", \"#\" ) \"n\" }");
    const QByteArray needs = "MATCH { NEEDS \"r\" } " + columns;
    QTest::newRow("a column's text") << needs << QByteArray() << "a" << "start 0 ends 1 writes 0 text 1 counter -1 emptied 0";
    QTest::newRow("an entry and a position") << needs << QByteArray() << "r" << "start 1 ends 1 writes 1 text 0 counter 0 emptied 0";
    QTest::newRow("a name of no concern") << needs << QByteArray() << "q" << "start 0 ends 0 writes 0 text 0 counter -1 emptied 0";
    QTest::newRow("VOID writes at every end") << "MATCH { VOID } " + columns << QByteArray() << "q"
                                              << "start 0 ends 1 writes 1 text 0 counter -1 emptied 0";
    QTest::newRow("EMPTY empties at the path and its parent") << needs << QByteArray("ABSENT_VALUES EMPTY") << "r"
                                                              << "start 1 ends 1 writes 1 text 0 counter 0 emptied 2";
}

// What the compiled description files under an element's name, which is all the handler
// looks at for such an element.
void TstXml::index()
{
    QFETCH(QByteArray, blocks);
    QFETCH(QByteArray, globals);
    QFETCH(QString, name);
    QFETCH(QString, actions);
    QCOMPARE(parse_measurement(globals, blocks), 0);
    const DESCRIPTIONS descriptions(GL_param.description_root);
    const ELEMENT_ACTIONS &found = descriptions.all().front()->actions_of(intern_name(name.toUtf8()));
    int writes = 0;
    for (const END_ACTION &action : found.ends)
        writes += action.may_write;
    QCOMPARE(QString("start %1 ends %2 writes %3 text %4 counter %5 emptied %6")
                 .arg(found.start_columns.size()).arg(found.ends.size()).arg(writes).arg(found.wants_text)
                 .arg(found.counters.empty() ? -1 : found.counters.front().second).arg(found.emptied.size()), actions);
}

void TstXml::markup_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("counts");
    QTest::newRow("tags and text") << QByteArray("a \"b\" 'c' = <v a='1' b=\"2\">x=\"y\"</v><w c = '3'/>") << "2 0";
    QTest::newRow("quotes hold the other quote, > and =") << QByteArray("<v a='\">\"' b=\"'=>'\" c='1'/>") << "3 0";
    QTest::newRow("namespace declarations") << QByteArray("<v xmlns='u' xmlns:p=\"u\" xmlnsx='1' p:a='2'/>") << "2 2";
    QTest::newRow("no tags in comments, CDATA, PIs")
        << QByteArray("<!-- <v a='1' b='2'> --><![CDATA[<v a='1' b='2'/>]]><?p <v a='1' b='2'/> ?><w x='1'/>") << "1 0";
    QTest::newRow("cut short") << QByteArray("<v a='1' b='2") << "2 0";
}

// The markup of an entity's content, counted before the content is parsed.
void TstXml::markup()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, counts);
    const XML_READER::MARKUP markup = XML_READER::count_markup(content.constData(), size_t(content.size()));
    QCOMPARE(QString("%1 %2").arg(markup.most_attributes).arg(markup.namespaces), counts);
}

QTEST_APPLESS_MAIN(TstXml)
#include "tst_xml.moc"
