#include <QtTest>

#include <cerrno>

#include "description.h"
#include "elog.h"
#include "global_parser.h"
#include "gl_param.h"
#include "log_capture.h"
#include "process_file.h"
#include "publication.h"
#include "tree_builder.h"

/// What a conversion's failures mean, what becomes of its input, and how a publication
/// that fails half-way leaves nothing behind.
class TstPublication : public QObject {
    Q_OBJECT
private slots:
    void status_data();
    void status();
    void fate_data();
    void fate();
    void roll_back();
    void path_stem_data();
    void path_stem();
};

void TstPublication::status_data()
{
    QTest::addColumn<bool>("failed");
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("status");
    QTest::newRow("done") << false << 0 << 0;
    QTest::newRow("the file's own fault") << true << 0 << 1;
    QTest::newRow("a name in the way") << true << EEXIST << 1;
    QTest::newRow("no permission") << true << EACCES << 1;
    QTest::newRow("not a regular file") << true << NOT_REGULAR_FILE << 1;
    QTest::newRow("disk full") << true << ENOSPC << 75;
    QTest::newRow("quota") << true << EDQUOT << 75;
    QTest::newRow("I/O error") << true << EIO << 75;
    QTest::newRow("read-only file system") << true << EROFS << 75;
}

void TstPublication::status()
{
    QFETCH(bool, failed);
    QFETCH(int, err);
    QFETCH(int, status);
    QCOMPARE(PROCESS_FILE::status_of(failed ? OUTCOME::failed(err) : OUTCOME::done()), status);
}

void TstPublication::fate_data()
{
    QTest::addColumn<int>("debug_level");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<int>("kind");
    QTest::newRow("removed") << 0 << QString() << int(INPUT_FATE::REMOVE);
    QTest::newRow("archived") << 0 << "/srv/archive" << int(INPUT_FATE::ARCHIVE);
    QTest::newRow("kept at debug level 1") << 1 << QString() << int(INPUT_FATE::KEEP);
    QTest::newRow("kept at debug level 3, archive or not") << 3 << "/srv/archive" << int(INPUT_FATE::KEEP);
}

void TstPublication::fate()
{
    QFETCH(int, debug_level);
    QFETCH(QString, archive);
    QFETCH(int, kind);
    const INPUT_FATE fate = INPUT_FATE::of_options(debug_level, archive);
    QCOMPARE(int(fate.kind), kind);
    QCOMPARE(fate.goes(), kind != INPUT_FATE::KEEP);
    QCOMPARE(fate.archive, kind == INPUT_FATE::ARCHIVE ? archive : QString());
}

// Two outputs in folders of their own; the second folder goes between opening and
// publishing, so the first output is published and must be taken back.
void TstPublication::roll_back()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("out/a") && QDir(dir.path()).mkpath("out/b"));
    QByteArray config = "GLOBALS { FILE_MASK \"%3/%1_%5.data\" }\nINPUTFILE \"x\" {\n"
                        "GENERATES MEASUREMENT { MEASUREMENTNAME \"a\" GRANULARITY EVENT MATCH { VOID } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" } }\n"
                        "GENERATES MEASUREMENT { MEASUREMENTNAME \"b\" GRANULARITY EVENT MATCH { VOID } COLUMNS { ATTRIBUTE ( \"v\" ) \"v\" } } }\n";
    free_tree(GL_param.description_root);
    GL_param.description_root = nullptr;
    FILE *in = fmemopen(config.data(), size_t(config.size()), "rb");
    QCOMPARE(parse_configuration(in), 0);
    fclose(in);
    GL_param.output_path = dir.path() + "/out";
    GL_param.input_path = dir.path();
    const DESCRIPTIONS descriptions(GL_param.description_root);
    INPUT_FILE input;
    input.source_name = input.base_name = "x_20111110_1345.xml";
    input.stamp = QDateTime(QDate(2011, 11, 10), QTime(13, 45), Qt::UTC);
    FILE_PUBLICATION sink(INPUT_FATE::of_options(0, QString()));
    LogCapture capture;
    QVERIFY(sink.open(*descriptions.all().front(), input).ok());
    QVERIFY(QDir(dir.path() + "/out/b").removeRecursively());
    const OUTCOME committed = sink.commit({1, 1});
    QCOMPARE(committed.error(), ENOENT);
    QCOMPARE(PROCESS_FILE::status_of(committed), 1);
    QCOMPARE(capture.text(), "ERROR: could not write file " + dir.path() + "/out/b/1111101345_x_20111110_1345.data\n"
                             "HINT: No such file or directory\n");
    QCOMPARE(QDir(dir.path() + "/out/a").entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(QDir(dir.path() + "/out").entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TstPublication::path_stem_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("stem");
    QTest::newRow("top of the tree") << "x1.xml" << "x1";
    QTest::newRow("a node folder") << "a/x1.xml" << "a_x1";
    QTest::newRow("gzip, deeper") << "pm/n1/A2024.xml.gz" << "pm_n1_A2024";
    QTest::newRow("a dot in a folder") << "a.b/x1" << "a.b_x1";
}

// What %6 stands for.
void TstPublication::path_stem()
{
    QFETCH(QString, source);
    QFETCH(QString, stem);
    QCOMPARE(source_path_stem(source), stem);
}

QTEST_APPLESS_MAIN(TstPublication)
#include "tst_publication.moc"
