#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "elog.h"
#include "gl_param.h"
#include "log_capture.h"
#include "name_codec.h"

// The refusals of the command line, and names as the event log shows them.
class TstParams : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        install_name_codec();
        QVERIFY(QDir(dir.path()).mkdir("in") && QDir(dir.path()).mkdir("q"));
        QVERIFY(QFile(dir.filePath("file")).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(dir.filePath("file"), dir.filePath("link")));
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
    }

    // A child parses each command line: a refusal ends it with status 4 and the messages
    // of the row, anything else with 0 and no message. Paths are below T.
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("log");
        const auto row = [](const QString &name, const QStringList &args, const QString &message) {
            QTest::newRow(qPrintable(name)) << args << (message.isEmpty() ? message : "ERROR: " + message + "\nERROR: aborting program\n");
        };
        const QString hint("ERROR: not expected option found in argument list\nHINT: see\n  Option -h\nto get some help\n\n");
        QTest::newRow("unknown option") << QStringList{"-x"} << "strandor: invalid option -- 'x'\n" + hint;
        QTest::newRow("unknown long option") << QStringList{"--helpme"} << "strandor: unrecognized option '--helpme'\n" + hint;
        QTest::newRow("no value") << QStringList{"-o", "/tmp", "-t"} << "strandor: option requires an argument -- 't'\n" + hint;
        const struct { const char *option, *message; QStringList values; } bad[] = {
            {"-d", "debug level must be between 0=off (default) and 5 (extrem noisy)", {"6", "-1", "010", "abc", ""}},
            {"-s", "shard must be K/N with 0 <= K < N", {"1/1", "4/4", "-1/2", "0/0", "a/b", "1", "", "0/ 2", "0/2/3", "+0/2", "0/4294967296"}},
            {"-t", "number of parallel processes must be a positive integer", {"0", "-1", "abc", "2x", "1.5", "", " 2", "+2", "1000001"}},
            {"-a", "minimum age must be a whole number of seconds", {"-1", "abc", "", "1.5", " 5", "+5", "4294967296"}},
            {"-D", "-D needs a connection string", {"", " \t"}},
        };
        for (const auto &b : bad)
            for (const QString &value : b.values)
                row(QString("%1 '%2'").arg(b.option, value), {b.option, value}, b.message);
        // After "-i T/in"; no message for a command line that is accepted.
        const char *const rows[][2] = {
            {"-t 1000000 -s 4294967294/4294967295 -a 4294967295 -d 0x5 -nzr -C -D x", ""}, {"-o T/in -D x", ""},
            {"-C", "-C creates tables of the database that -D names; give -D too"},
            {"-m ", "metrics file  cannot be written: No such file or directory"},
            {"-m T/no/m.prom", "metrics file T/no/m.prom cannot be written: No such file or directory"},
            {"-m T/in", "metrics file T/in cannot be written: Is a directory"},
            {"-m T/file/m.prom", "metrics file T/file/m.prom cannot be written: Not a directory"},
            {"-m T/link", "metrics file T/link cannot be written: not a regular file"},
            {"-m T/fifo", "metrics file T/fifo cannot be written: not a regular file"},
            {"-m T/new.prom -a x", "minimum age must be a whole number of seconds"},
            {"-e T/nowhere", "quarantine directory T/nowhere cannot be used: No such file or directory"},
            {"-k T/file", "archive directory T/file cannot be used: Not a directory"},
            {"-e T/in/", "quarantine directory T/in/ cannot be used: it is the input directory"},
            {"-e T/q -k T/q/", "quarantine directory T/q cannot be used: it is the archive directory"},
            {"-o T/in/", "output directory T/in cannot be used: it is the input directory"},
        };
        for (const auto &r : rows)
            row(r[0], QString("-i T/in ").append(r[0]).replace("T/", dir.path() + "/").split(' '), r[1]);
        struct stat shm, here;
        if (stat("/dev/shm", &shm) == 0 && stat(QFile::encodeName(dir.path()).constData(), &here) == 0 && shm.st_dev != here.st_dev)
            row("-k on another file system", {"-i", dir.filePath("in"), "-k", "/dev/shm"},
                "archive directory /dev/shm cannot be used: it lies on another file system than the input directory");
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, log);
        LogCapture capture;
        fflush(stdout); // or the child writes it again
        const pid_t pid = fork();
        if (pid == 0) {
            QList<QByteArray> bytes{"strandor"};
            QVector<char *> argv;
            for (const QString &arg : args)
                bytes << QFile::encodeName(arg);
            for (QByteArray &arg : bytes)
                argv << arg.data();
            argv << nullptr;
            _exit(GL_param.parse_options(argv.size() - 1, argv.data()));
        }
        int status = -1;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), log.isEmpty() ? 0 : 4);
        QCOMPARE(capture.text().replace(dir.path(), "T"), log);
        QVERIFY(!QFile::exists(dir.filePath("new.prom"))); // checked, not created
    }

    // Any bytes survive as a name. The log shows an entry on one line after its pid and
    // time: valid UTF-8 as it is, each byte of another sequence, line feeds and other
    // control characters but the tab escaped.
    void names_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("entry");
        const char *rows[][3] = {
            {"UTF-8 of one to four bytes", "a\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", "a\u00e4\u20ac\U0001f600"},
            {"Latin-1", "lat\xe9.xml", "lat\\xE9.xml"},
            // Lone continuation bytes, overlong forms, a surrogate, above U+10FFFF, no first byte, cut short.
            {"invalid UTF-8", "\x80\xbf\xc0\xaf\xc1\xbf\xe0\x9f\xbf\xed\xb2\x80\xf4\x90\x80\x80\xf5\xfe\xff\xe2\x82",
             "\\x80\\xBF\\xC0\\xAF\\xC1\\xBF\\xE0\\x9F\\xBF\\xED\\xB2\\x80\\xF4\\x90\\x80\\x80\\xF5\\xFE\\xFF\\xE2\\x82"},
            {"a character that keeps a byte", "\xee\xbe\x80", "\\xEE\\xBE\\x80"},
            {"control characters", "a\nb\r\x1b\x7f\tc\xc2\x9b", "a\\nb\\r\\x1B\\x7F\tc\\xC2\\x9B"},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QByteArray(row[1]) << QString::fromUtf8(row[2]);
    }

    void names()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, entry);
        QCOMPARE(QFile::encodeName(QFile::decodeName(bytes)), bytes);
        LogCapture capture;
        elog.log(QFile::decodeName(bytes) + "\n");
        const QRegularExpression prefix(QString("^\\[%1\\] \\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d ").arg(getpid()));
        QCOMPARE(capture.raw().remove(prefix), entry + "\n"); // one entry, one line
    }
};

QTEST_APPLESS_MAIN(TstParams)
#include "tst_params.moc"
