#include <QtTest>

#include <climits>
#include <cstdio>

#include "attribute.h"
#include "field_format.h"
#include "gl_param.h"
#include "global_parser.h"
#include "log_capture.h"
#include "tree_builder.h"

class TstConfig : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void settings();
    void field_format_data();
    void field_format();
    void sound_data();
    void sound();
};

/// An in-memory copy of the bytes as a stream (fmemopen refuses an empty buffer).
static FILE *open_bytes(const QByteArray &bytes)
{
    static QByteArray keep;
    keep = bytes;
    return keep.isEmpty() ? tmpfile() : fmemopen(keep.data(), size_t(keep.size()), "rb");
}

/// Parses the text into a fresh tree; returns the parser's result and its messages.
static int parse_text(const QByteArray &text, QString *log = nullptr)
{
    free_tree(GL_param.description_root);
    GL_param.description_root = nullptr;
    LogCapture capture;
    FILE *in = open_bytes(text);
    const int result = parse_configuration(in);
    fclose(in);
    if (log)
        *log = capture.text();
    return result;
}

static void accepted(const char *name, const QByteArray &text, const QString &dump) { QTest::newRow(name) << text << QString() << dump; }

// A text is refused with its messages, or accepted without any into the tree that dump shows.
void TstConfig::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("dump");
    const QByteArray head("GLOBALS { }\nINPUTFILE \"x\" {\n  GENERATES MEASUREMENT {\n");
    const QByteArray columns = head + "COLUMNS { ";
    const QString any_column("ATTRIBUTE, BOOLATTRIBUTE, CONVERTATTRIBUTE, REGEXPATTRIBUTE, UTC_FILESTAMP, ...");
    const QString item("MEASUREMENTNAME, GRANULARITY, MATCH, COLUMNS, KEEP, ...");
    const QString setting("VERSION, FILE_MASK, TIME_FORMAT, COLUMN_SEPARATOR, HEADER_SIZE_MAX, ...");
    const struct {
        const char *name;
        QByteArray text;
        int line;
        QString found, expected, keyword;
    } rows[] = {
        {"empty file", QByteArray(), 1, "end of file", "GLOBALS", ""},
        {"only comments", "# one\n# two\n", 3, "end of file", "GLOBALS", ""},
        {"lower-case keyword", "Globals { }", 1, "Globals", "GLOBALS", "GLOBALS"},
        {"misspelt keyword", head + "COLUMN { } } }", 4, "COLUMN", item, "COLUMNS"},
        {"misspelt column kind", columns + "ARGATRIBUTE", 4, "ARGATRIBUTE", any_column, "ARGATTRIBUTE"},
        {"no such granularity", head + "GRANULARITY 60MIN", 4, "60", "24H, 15MIN or EVENT", "15MIN"},
        {"map without its look-up", columns + "MAPATTRIBUTE ( \"e\", \"k\" ) \"m\"", 4, "\"m\"", "(", ""},
        {"far from any keyword", columns + "SOMETHING", 4, "SOMETHING", any_column, ""},
        {"after a path", columns + "ATTRIBUTE ( \"a\" \"b\" )", 4, "\"b\"", "-> or )", ""},
        {"after a string over lines", "GLOBALS {\nVERSION \"a\nb\nc\"\n= }", 3, "=", setting, ""},
        {"DOS line ends", "GLOBALS\r\n{\r\nVERSION \"a\r\nb\"\r\n= }", 4, "=", setting, ""},
        {"a keyword runs on", head + "GRANULARITY 24HX", 4, "X", item, ""},
        {"NUL after the last block", QByteArray("GLOBALS { }\n\n\0", 14), 3, "NUL byte", "end of file or INPUTFILE", ""},
        {"a byte of no character", "GLOBALS {\xe9", 1, "byte 0xe9", setting, ""},
        {"unterminated quote", "GLOBALS { VERSION \"V1 }\n", 1, "\"", "quoted string", ""},
    };
    for (const auto &row : rows) {
        QString log = QString("syntax error in line %1\nHINT: unexpected %2, expected %3\n").arg(row.line).arg(row.found, row.expected);
        if (!row.keyword.isEmpty())
            log += "HINT: did you mean " + row.keyword + "?\n";
        QTest::newRow(row.name) << row.text << log << QString();
    }
    const QByteArray block("GLOBALS { } INPUTFILE \"x\" { GENERATES MEASUREMENT { ");
    const QString x("INPUTFILE = x\n    MEASUREMENT\n");
    accepted("MATCH, GRANULARITY, MEASUREMENTNAME, ARGATTRIBUTE",
             "GLOBALS { } # a comment\nINPUTFILE \"^CELL_.*\\.xml$\" { GENERATES MEASUREMENT { MEASUREMENTNAME \"n\" "
             "GRANULARITY 15MIN MATCH { NEEDS \"c\" AND NEEDS } COLUMNS { ARGATTRIBUTE ( \"r\" -> \"c\", \"id\" ) \"i\" } } }",
             "INPUTFILE = ^CELL_.*\\.xml$\n    MEASUREMENT\n        MEASUREMENTNAME = n\n        GRANULARITY: MIN15\n"
             "        MATCH\n            NEEDS\n                POINTER = c\n            NEEDS\n        COLUMNS\n"
             "            ATTRIBUTE_ARG ( POINTER, \"id\" ) i\n                POINTER = r\n                POINTER = c\n");
    accepted("only GLOBALS", "GLOBALS { }", "");
    // Strings are UTF-8 if the whole file is, else Latin-1: a byte in a comment decides.
    const char *const names[][3] = {{"UTF-8", "z\xc3\xa4hlung\" } }", "z\xc3\xa4hlung"}, {"Latin-1", "z\xe4hlung\" } }", "z\xc3\xa4hlung"},
                                    {"UTF-8 and Latin-1", "z\xc3\xa4hlung\" } } # \xe9\n", "z\xc3\x83\xc2\xa4hlung"}};
    for (const auto &n : names)
        accepted(n[0], block + "MEASUREMENTNAME \"" + n[1], x + "        MEASUREMENTNAME = " + QString::fromUtf8(n[2]) + "\n");
    accepted("two empty INPUTFILEs", "GLOBALS{}INPUTFILE \"a\"{} INPUTFILE \"b\"{}", "INPUTFILE = a\nINPUTFILE = b\n");
    accepted("NEEDS without path, empty MATCH", block + "MATCH { NEEDS } MATCH { } } }",
             x + "        MATCH\n            NEEDS\n        MATCH\n");
    accepted("leading arrow is ignored", block + "MATCH { NEEDS -> \"a\" } } }",
             x + "        MATCH\n            NEEDS\n                POINTER = a\n");
    accepted("BOOLATTRIBUTE without path", block + "COLUMNS { BOOLATTRIBUTE ( , \"x\" ) \"c\" } } }",
             x + "        COLUMNS\n            ATTRIBUTE_BOOL ( POINTER, \"x\" ) c\n");
    accepted("STAMP, OR, ISO 8601 and filters", "GLOBALS { } INPUTFILE \"x\" { STAMP ( \"h\" -> \"m\", \"b\" ) OR ( \"d\", \"t\" ) "
             "GENERATES MEASUREMENT { COLUMNS { ARGATTRIBUTE ( \"e\", \"dn\" ) OR ( \"f\", \"id\" ) \"n\" "
             "CONVERTATTRIBUTE ISO8601_TO_UTC ( \"g\", \"end\" ) OR ( \"k\" ) \"u\" } KEEP \"n\" MATCHING \"^a\" DROP \"u\" MATCHING \"\" } }"
             " INPUTFILE \"y\" { STAMP MATCHING \"(1)(2)(3)(4)(5)\" }",
             "INPUTFILE = x\n    STAMP\n        OR ( POINTER, \"b\" )\n            POINTER = h\n            POINTER = m\n"
             "        OR ( POINTER, \"t\" )\n            POINTER = d\n    MEASUREMENT\n        COLUMNS\n"
             "            ATTRIBUTE_ARG ( POINTER, \"dn\" ) n\n                POINTER = e\n                OR ( POINTER, \"id\" )\n"
             "                    POINTER = f\n            ATTRIBUTE_CONVERT ISO8601_TO_UTC( POINTER, \"end\" ) u\n"
             "                POINTER = g\n                OR ( POINTER )\n                    POINTER = k\n"
             "        KEEP \"n\" MATCHING \"^a\"\n        DROP \"u\" MATCHING \"\"\n"
             "INPUTFILE = y\n    STAMP MATCHING \"(1)(2)(3)(4)(5)\"\n");
    accepted("LISTATTRIBUTE, LISTINDEX, MAPATTRIBUTE",
             block + "COLUMNS { LISTINDEX \"i\" LISTATTRIBUTE ( \"a\" -> \"b\" ) \"l\" "
                     "MAPATTRIBUTE ( \"t\" -> \"e\", \"k\" ) ( \"v\", \"q\" ) \"m\" MAPATTRIBUTE ( , \"\" ) ( , \"\" ) \"n\" } } }",
             x + "        COLUMNS\n            LISTINDEX i\n            LISTATTRIBUTE ( POINTER ) l\n"
                 "                POINTER = a\n                POINTER = b\n"
                 "            MAPATTRIBUTE ( POINTER, \"k\" ) ( LOOKUP ) m\n                POINTER = t\n                POINTER = e\n"
                 "                LOOKUP ( POINTER, \"q\" )\n                    POINTER = v\n"
                 "            MAPATTRIBUTE ( POINTER, \"\" ) ( LOOKUP ) n\n                LOOKUP ( POINTER, \"\" )\n");
    accepted("items in any order and repeated", block + "GRANULARITY 24H MEASUREMENTNAME \"n\" GRANULARITY EVENT } }",
             x + "        GRANULARITY: H24\n        MEASUREMENTNAME = n\n        GRANULARITY: EVENT\n");
}

void TstConfig::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, log);
    QFETCH(QString, dump);
    QString messages;
    QCOMPARE(parse_text(text, &messages), log.isEmpty() ? 0 : 1);
    QCOMPARE(messages, log);
    LogCapture capture;
    ATTRIBUTE().dump(GL_param.description_root, 0);
    QCOMPARE(capture.text(), dump);
}

void TstConfig::settings()
{
    // The last entry wins; values keep tabs, backslashes and line feeds.
    QCOMPARE(parse_text("GLOBALS { VERSION \"a\" VERSION \"b\\c\td\ne\" HEADER_SIZE_MAX -5 FILE_MASK \"%1.d\"\n"
                        " TIME_FORMAT \"hh\" COLUMN_SEPARATOR \";\" }\n"), 0);
    QCOMPARE(GL_param.version, QString("b\\c\td\ne"));
    QCOMPARE(GL_param.max_header_size, -5);
    QCOMPARE(GL_param.file_mask + GL_param.time_format + GL_param.column_separator, QString("%1.dhh;"));
    // Numbers out of range are clamped.
    QCOMPARE(parse_text("GLOBALS { HEADER_SIZE_MAX 99999999999999999999 }"), 0);
    QCOMPARE(GL_param.max_header_size, INT_MAX);
    QCOMPARE(parse_text("GLOBALS { HEADER_SIZE_MAX -2147483649 }"), 0);
    QCOMPARE(GL_param.max_header_size, INT_MIN);
}

// Fields as their loaders read them back; a separator other than the tab is escaped too.
void TstConfig::field_format_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("absent");
    QTest::addColumn<QByteArray>("field");
    const int tsv = int(OUTPUT_FORMAT::TSV), csv = int(OUTPUT_FORMAT::CSV), text = int(OUTPUT_FORMAT::TEXT);
    QTest::newRow("TEXT as it stands") << text << '\t' << QByteArray("a\tb\\") << true << QByteArray("a\tb\\");
    QTest::newRow("TSV plain") << tsv << '\t' << QByteArray("a;b") << false << QByteArray("a;b");
    QTest::newRow("TSV escapes") << tsv << '\t' << QByteArray("\\\t\n\rx") << false << QByteArray("\\\\\\t\\n\\rx");
    QTest::newRow("TSV other separator") << tsv << ';' << QByteArray("a;b\t") << false << QByteArray("a\\;b\\t");
    QTest::newRow("TSV empty") << tsv << '\t' << QByteArray() << false << QByteArray();
    QTest::newRow("TSV absent") << tsv << '\t' << QByteArray() << true << QByteArray("\\N");
    QTest::newRow("TSV text N") << tsv << '\t' << QByteArray("\\N") << false << QByteArray("\\\\N");
    QTest::newRow("CSV plain") << csv << ',' << QByteArray("a;b\t") << false << QByteArray("a;b\t");
    QTest::newRow("CSV quoted") << csv << ',' << QByteArray("a,\"b\"") << false << QByteArray("\"a,\"\"b\"\"\"");
    QTest::newRow("CSV line ends") << csv << ';' << QByteArray("a,\r\n") << false << QByteArray("\"a,\r\n\"");
    QTest::newRow("CSV own separator") << csv << ';' << QByteArray("a;") << false << QByteArray("\"a;\"");
    QTest::newRow("CSV absent") << csv << ',' << QByteArray() << true << QByteArray();
}

void TstConfig::field_format()
{
    QFETCH(int, format);
    QFETCH(char, separator);
    QFETCH(QByteArray, value);
    QFETCH(bool, absent);
    QFETCH(QByteArray, field);
    FIELD_FORMAT put(OUTPUT_FORMAT(format), separator);
    const std::string_view result = put(value.constData(), size_t(value.size()), absent);
    QCOMPARE(QByteArray(result.data(), int(result.size())), field);
}

void TstConfig::sound_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("log");
    const QByteArray m("GENERATES MEASUREMENT { MEASUREMENTNAME \"");
    const QByteArray head = "GLOBALS { }\nINPUTFILE \"x\" {\n  " + m;
    const QByteArray long_name(60, 'm');
    QTest::newRow("one name twice in a header") << head + "rp\"\n COLUMNS { ATTRIBUTE ( \"a\" ) \"node\"\n"
                                                 "ATTRIBUTE ( \"b\" ) \"node\" ATTRIBUTE ( \"c\" ) \"v\" } } }" << QString()
                                              << "ERROR: column \"node\" in line 5 has the name of the column in line 4\n";
    QTest::newRow("63 bytes are kept") << head + long_name + "abc\" COLUMNS { ATTRIBUTE ( \"a\" ) \"c\" } } }"
                                       << "dbname=x" << QString();
    QTest::newRow("64 bytes are not") << head + long_name + "_abc\" COLUMNS { ATTRIBUTE ( \"a\" ) \"c\" } } }"
                                      << "dbname=x" << "ERROR: name \"" + QString(long_name) + "_abc\" in line 3 is longer than the 63 bytes that PostgreSQL keeps\n";
    QTest::newRow("nor in UTF-8") << head + "t\"\n COLUMNS { ATTRIBUTE ( \"a\" ) \"" + QByteArray(60, 'c') + "\xc3\xa4\xc3\xa4\" } } }"
                                  << "dbname=x" << "ERROR: name \"" + QString(60, 'c') + "\u00e4\u00e4\" in line 4 is longer than the 63 bytes that PostgreSQL keeps\n";
    QTest::newRow("a long name for files") << head + long_name + "_ab\" COLUMNS { ATTRIBUTE ( \"a\" ) \"c\" } } }"
                                           << QString() << QString();
    const QByteArray two = head + "rp\" COLUMNS { ARGATTRIBUTE ( \"r\", \"id\" ) \"id\" } }\n}\nINPUTFILE \"y\" {\n"
                           + m + "rp\" COLUMNS { ARGATTRIBUTE ( \"r\", \"id\" ) \"ident\" } } }";
    QTest::newRow("one table, other columns") << two << "dbname=x"
                                              << "ERROR: measurement \"rp\" has other columns in line 6 than in line 3\n";
    QTest::newRow("other columns into files") << two << QString() << QString();
    const QByteArray filtered = head + "rp\" COLUMNS { ATTRIBUTE ( \"a\" -> \"b\" ) \"c\" AT_END }\n";
    QTest::newRow("a filter on no column") << filtered + "KEEP \"d\" MATCHING \"x\" } }" << QString()
                                           << "ERROR: KEEP \"d\" in line 4: its measurement has no such column\n";
    QTest::newRow("a filter on an AT_END column") << filtered + "DROP \"c\" MATCHING \"x\" } }" << QString()
        << "ERROR: DROP \"c\" in line 4: the column is AT_END: its value comes after the record is made\n";
    QTest::newRow("a filter's pattern") << head + "rp\" COLUMNS { ATTRIBUTE ( \"a\" ) \"c\" }\nKEEP \"c\" MATCHING \"(\" } }"
        << QString() << "ERROR: invalid regular expression \"(\" in line 4: unexpected end\n";
    QTest::newRow("a stamp pattern of four groups") << QByteArray("GLOBALS { }\nINPUTFILE \"x\" { STAMP MATCHING \"(1)(2)(3)(4)\" }") << QString()
        << "ERROR: STAMP MATCHING \"(1)(2)(3)(4)\" in line 2 has 4 groups; it needs five: year, month, day, hour and minute\n";

}

// The checks that the grammar cannot make, with their lines; some only for a database.
void TstConfig::sound()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, database);
    QFETCH(QString, log);
    GL_param.database = database;
    QCOMPARE(parse_text(text), 0);
    LogCapture capture;
    const bool sound = configuration_sound(GL_param.description_root);
    GL_param.database.clear();
    QCOMPARE(capture.text(), log);
    QCOMPARE(sound, log.isEmpty());
}

QTEST_APPLESS_MAIN(TstConfig)
#include "tst_config.moc"
