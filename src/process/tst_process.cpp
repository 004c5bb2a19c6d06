#include <QtTest>

#include <sys/stat.h>

#include "gl_param.h"
#include "input_name.h"
#include "name_codec.h"
#include "publication.h"

static const QByteArray TAG("h.0of1.0123456789ab.7");
/// The temporary name under which the process TAG writes final_name.
static QByteArray part(const QByteArray &final_name) { return "." + final_name + "." + TAG + ".part"; }

// What a conversion takes from names that others give: journals and input file names.
class TstProcess : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        install_name_codec();
        qputenv("TZ", "Europe/Berlin"); // a zone with a summer-time gap
        for (const char *name : {"input", "archive", "other"})
            QVERIFY(QDir(dir.path()).mkdir(name));
        GL_param.input_path = dir.filePath("input") + "/";
        GL_param.archive_path = dir.filePath("archive");
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
        QVERIFY(QFile::link(dir.filePath("journal"), dir.filePath("link")));
    }

    // A journal is refused with its reason, or read as its fate, input, identity ("-" for
    // none), final output names and archive below T. The file read is the journal written
    // unless the row names another.
    void journals_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("result");
        const auto row = [](const char *name, const QByteArrayList &fields, const char *result) {
            QTest::newRow(name) << fields.join('\0') << "journal" << QByteArray(result);
        };
        const char *const files[][2] = {{"nowhere", "No such file or directory"}, {"fifo", "not a regular file"},
                                        {"input", "not a regular file"}, {"link", "Too many levels of symbolic links"}};
        for (const auto &file : files)
            QTest::newRow(file[0]) << QByteArray("0\0a.xml", 7) << file[0] << QByteArray(file[1]);
        QTest::newRow("too large") << QByteArray((1 << 20) + 1, '1') << "journal" << QByteArray("it is too large");
        QTest::newRow("1 MiB, read whole") << QByteArray(1 << 20, '1') << "journal" << QByteArray("it is incomplete");
        const QByteArray id("=2049,131,42,1718000000123456789"), x = part("x.data");
        row("empty", {""}, "it is incomplete");
        row("only a fate", {"1"}, "it is incomplete");
        row("an output without its final name", {"1", "a.xml", id, x}, "it is incomplete");
        for (const char *identity : {"=1,2,3", "=1,2,3,4,5", "=1,2,x,4", "=", "=1,,3,4"})
            row(identity, {"1", "a.xml", identity, x, "x.data"}, "its input identity is malformed");
        for (const char *input : {"../victim", "/etc/passwd", "d//a.xml", "d/../../a.xml", "d/./a.xml", ".", "", "d/"})
            row(qPrintable(QString("input '%1'").arg(input)), {"1", input, id}, "its input is not a file name below the input directory");
        const QByteArrayList bad_outputs[] = {{part("d/x.data"), "d/x.data"}, {part(".."), ".."}, {part(""), ""}, {"../../victim", "x.data"},
                                              {".x.data.h.0of1.0123456789ab.8.part", "x.data"}, {part("y.data"), "x.data"}, {"x.data", x}};
        for (const QByteArrayList &names : bad_outputs)
            row(qPrintable("output " + names.join(' ')), QByteArrayList{"1", "a.xml", x, "x.data"} + names,
                "its output names are not plain file names of this process");
        for (const char *fate : {"a../other", "a../nowhere", "a", "a/"})
            row(fate, {fate, "a.xml", id}, "its archive is not this run's archive directory");
        for (const char *fate : {"2", "", "10", "A../archive"})
            row(qPrintable(QString("fate '%1'").arg(fate)), {fate, "a.xml", id}, "its input's fate is unknown");
        row("kept", {"0", "a.xml", id}, "0 a.xml 2049,131,42,1718000000123456789");
        row("removed, of an older version", {"1", "a.xml", x, "x.data"}, "1 a.xml - x.data");
        row("outputs, in a tree", {"1", "pm/n1/a.xml", id, x, "x.data", part("y.data"), "y.data"},
            "1 pm/n1/a.xml 2049,131,42,1718000000123456789 x.data y.data");
        row("archived", {"a../archive/", "lat\xe9.xml", "=0,0,0,-1"}, "a../archive/ lat\xe9.xml 0,0,0,-1 T/archive");
    }

    void journals()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, file);
        QFETCH(QByteArray, result);
        QFile journal(dir.filePath("journal"));
        QVERIFY(journal.open(QIODevice::WriteOnly | QIODevice::Truncate) && journal.write(text) == text.size());
        journal.close();
        JOURNAL j;
        const QString refused = read_journal(dir.filePath(file), QString(TAG), j);
        QByteArray read = j.fate + ' ' + j.input + ' ' + (j.has_identity ? j.identity.text() : "-");
        for (const auto &names : j.outputs)
            read += ' ' + names.second;
        if (!j.archive.isEmpty())
            read += ' ' + QFile::encodeName(QDir::cleanPath(j.archive).replace(dir.path(), "T"));
        QCOMPARE(refused.isEmpty() ? read : refused.toUtf8(), result);
    }

    // The stamp that a name carries, and the stem that %5 of a file mask stands for: the
    // name less ".gz", then less its last extension. What a row leaves out is not checked.
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stamp");
        QTest::addColumn<QString>("stem");
        const char *rows[][3] = {
            {"D20241211.0934+0000-0936+0000_-0_DC=Keysight.com,SubNetwork=Morrisville,ManagedElement=GNB-1_-_1.xml",
             "2024-12-11 09:34"},
            {"A20200101.2345+0100-20200102.0000+0100_NodeA.xml.gz", "2020-01-01 23:45", "A20200101.2345+0100-20200102.0000+0100_NodeA"},
            {"x_B20200101.1400-1415.xml", "2020-01-01 14:00"},
            {"A20230515.0700_0100-0715_0100_GNODEB-0.xml", "2023-05-15 07:00"},
            {"A20230515.0700_0100-0715_GNODEB-0.xml", "2023-05-15 07:00"},
            // The own group: the last one, four time digits, anything after them.
            {"a_20111110_1345_20111111_0900.xml", "2011-11-11 09:00", "a_20111110_1345_20111111_0900"},
            {"meas_20111110_13456.dat.xml", "2011-11-10 13:45", "meas_20111110_13456.dat"},
            {"meas_2011111_1345.xml", ""},
            {"a\n_20111110_1345", "2011-11-10 13:45", "a\n_20111110_1345"},
            // A time that Berlin skips in spring: the digits as written.
            {"y_20220327_0215.xml", "2022-03-27 02:15"},
            // The own group wins, also before a 3GPP form.
            {"A20200101.1400-1415_x_20111110_1345.xml", "2011-11-10 13:45"},
            // Impossible dates and times, and what is not the 3GPP form.
            {"meas_20111310_1345.xml", ""},
            {"meas_20111110_2460.xml", ""},
            {"A20201301.1400-1415_n.xml", ""},
            {"A20200101.2500-1415_n.xml", ""},
            {"E20200101.1400-1415_n.xml", ""},
            {"xA20200101.1400-1415_n.xml", ""},
            {"A20200101.1400_n.xml", ""},
            {"A20200101-1415_n.xml", ""},
            {"A20200101.1400-14155_n.xml", ""},
            {"PM202007171301+020024C202007171207+0200-1215+0200_45678.xml", ""},
            {"a.gz", nullptr, "a"}, {"a.tar.gz", nullptr, "a"}, {".hidden", nullptr, ".hidden"}, {".gz", nullptr, ""},
        };
        for (const auto &row : rows)
            QTest::newRow(qPrintable(QString(row[0]).replace('\n', "\\n"))) << row[0] << row[1] << row[2];
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, stamp);
        QFETCH(QString, stem);
        if (!stamp.isNull())
            QCOMPARE(stamp_from_name(name).toString("yyyy-MM-dd hh:mm"), stamp);
        if (!stem.isNull())
            QCOMPARE(source_stem(name), stem);
    }
};

QTEST_APPLESS_MAIN(TstProcess)
#include "tst_process.moc"
