#include "gl_param.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include "constants.h"
#include "elog.h"
#include "exit_status.h"
#include "file_path.h"

const char *const VERSION_BANNER[4] = {
    "    strandor - fast flexible data converter",
    ("    Version " STRANDOR_VERSION),
    "    CVS: $Revision: 1.6 $",
    "    CVS: $Date: 2011/11/10 13:43:27 $",
};

static const char *const USAGE_TEXT[] = {
    "strandor Syntax:",
    "strandor -v  print version number",
    "strandor -h  print this short reminder",
    "strandor -c  <configuration file> - load configuration file",
    "strandor -t  <number of processes> - defines number of subprocesses running in parallel",
    "strandor -i  <path to the input directory> - where to find input files",
    "strandor -o  <path to the output directory> - where to store output files",
    "strandor [-d <debug level>] the <debug level varies from 0 (off) to 5 (very noisy)",
    "strandor -s  <K/N> - convert only the files of shard K out of N (FNV-1a hash of the file name modulo N)",
    "strandor -a  <seconds> - leave files modified less than <seconds> ago for the next run",
    "strandor -m  <metrics file> - write the run's metrics there when it ends (Prometheus text format)",
    "strandor -e  <directory> - move input files that failed there (quarantine)",
    "strandor -k  <directory> - move converted input files there instead of removing them (archive)",
    "strandor -n  dry run: show the description, stamp and output files of each input file, change nothing",
    "strandor -z  a file that gives no record fails (kept, or quarantined with -e) instead of a warning",
    "strandor -r  read the input directory's subdirectories too, at any depth (an input tree)",
    "strandor -D  <conninfo> - load the records into this PostgreSQL database instead of writing files",
    "strandor -C  with -D: create missing tables first (every column text) and the ledger strandor_files",
    "strandor --help, --version  the same as -h, -v\n",
    "strandor example:",
    "strandor -c /etc/strandor/strandor.conf -i /var/spool/strandor/input -o /var/spool/strandor/output",
};

GL_PARAM::GL_PARAM()
    : debug_level(0),
      mypid(getpid()),
      output_path(DEFAULT_OUTPUT_PATH),
      input_path(DEFAULT_INPUT_PATH),
      file_time(QDateTime::currentDateTime()),
      configuration_file(DEFAULT_CONFIG_FILE),
      description_root(nullptr),
      current_inputfile(nullptr),
      line_number(0),
      parallel_processes(1),
      processes_started(0),
      processes_running(0),
      processes_succeeded(0),
      processes_failed(0),
      last_file_index(-1),
      file_mask(DEFAULT_FILE_MASK),
      time_format(DEFAULT_TIME_FORMAT),
      column_separator(DEFAULT_COLUMN_SEPARATOR),
      max_header_size(30),
      empty_absent_values(false),
      output_format(OUTPUT_FORMAT::TEXT),
      separator_given(false),
      skip_empty_outputs(false),
      compression_level(1),
      create_tables(false),
      recursive(false),
      shard_index(0),
      shard_count(1),
      min_age(0),
      files_no_description(0),
      files_left(0),
      input_bytes(0),
      files_quarantined(0),
      dry_run(false),
      fail_empty(false)
{
    elog.debug(3, "CALLED: GL_PARAM::GL_PARAM()\n");
}

// The description tree lives until the process ends; only the members go.
GL_PARAM::~GL_PARAM() = default;

static void print_banner()
{
    for (const char *line : VERSION_BANNER)
        puts(line);
}

/// A whole decimal number below 2^32 into value; false for anything else.
static bool parse_u32(const QByteArray &text, quint32 &value)
{
    if (text.isEmpty() || text.size() > 10)
        return false;
    quint64 v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + quint64(c - '0');
    }
    if (v > 0xffffffffu)
        return false;
    value = quint32(v);
    return true;
}

/// A whole decimal number of at least 1, or -1.
static int parse_process_count(const char *text)
{
    quint32 value = 0;
    return parse_u32(text, value) && value >= 1 && value <= 1000000 ? int(value) : -1;
}

static bool parse_shard(const char *text, quint32 &index, quint32 &count)
{
    const QList<QByteArray> parts = QByteArray(text).split('/');
    return parts.size() == 2 && parse_u32(parts[0], index) && parse_u32(parts[1], count) && index < count;
}

/// 0 when a file can be created at path and renamed over it, otherwise why not.
static int metrics_file_error(const QByteArray &path)
{
    struct stat st;
    if (path.isEmpty())
        return ENOENT;
    if (stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return EISDIR;
    // A link or a device node would be replaced by a regular file.
    if (lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return NOT_REGULAR_FILE;
    const int slash = path.lastIndexOf('/');
    const QByteArray dir = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    if (stat(dir.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    return access(dir.constData(), W_OK | X_OK) == 0 ? 0 : errno;
}

/// A bad option value ends the program before anything is touched.
[[noreturn]] static void refuse(const QString &message)
{
    elog.log(message);
    elog.log("ERROR: aborting program\n");
    exit(exit_status::BAD_COMMAND_LINE);
}

/// Why a directory cannot take input files moved there by rename(), or an empty string.
static QString keep_directory_fault(const QString &path, const QString &input_path)
{
    struct stat dir, input;
    const QByteArray name = QFile::encodeName(path);
    if (stat(name.constData(), &dir) != 0)
        return strerror(errno);
    if (!S_ISDIR(dir.st_mode))
        return strerror(ENOTDIR);
    if (access(name.constData(), W_OK | X_OK) != 0)
        return strerror(errno);
    // A missing input directory is reported later, as without this option.
    if (stat(QFile::encodeName(input_path).constData(), &input) != 0)
        return QString();
    if (dir.st_dev != input.st_dev)
        return "it lies on another file system than the input directory";
    if (dir.st_ino == input.st_ino)
        return "it is the input directory";
    return QString();
}

// Checked once all options are read: they depend on the input directory.
void GL_PARAM::check_keep_directories()
{
    const struct {
        const char *role;
        const QString &path;
        const char *other;
        const QString &other_path;
    } dirs[] = {{"quarantine", quarantine_path, "archive", archive_path},
                {"archive", archive_path, "quarantine", quarantine_path}};
    for (const auto &d : dirs) {
        if (d.path.isEmpty())
            continue;
        QString fault = keep_directory_fault(d.path, input_path);
        if (fault.isEmpty() && !d.other_path.isEmpty() && same_file(d.path, d.other_path))
            fault = QString("it is the %1 directory").arg(d.other);
        if (!fault.isEmpty())
            refuse(QString("ERROR: %1 directory %2 cannot be used: %3\n").arg(d.role, d.path, fault));
    }
    // The next run would take the outputs for inputs.
    if (database.isEmpty() && same_file(output_path, input_path))
        refuse(QString("ERROR: output directory %1 cannot be used: it is the input directory\n").arg(QDir::cleanPath(output_path)));
}

int GL_PARAM::parse_options(int argc, char **argv)
{
    elog.debug(3, "CALLED: GL_PARAM::parse_options()\n");
    static const struct option long_options[] = {
        {"help", no_argument, nullptr, 'h'}, {"version", no_argument, nullptr, 'v'}, {nullptr, 0, nullptr, 0}};
    int c;
    while ((c = getopt_long(argc, argv, "vhnzCrd:c:t:i:o:s:a:m:e:k:D:", long_options, nullptr)) != -1) {
        switch (c) {
        case 'v':
            print_banner();
            exit(exit_status::OK);
        case 'h':
            print_banner();
            for (const char *line : USAGE_TEXT)
                puts(line);
            exit(exit_status::OK);
        // Paths are decoded as the file system names them, so that a directory named
        // with non-ASCII characters is found.
        case 'c':
            configuration_file = QFile::decodeName(optarg);
            break;
        case 'i':
            input_path = QFile::decodeName(optarg) + "/";
            break;
        case 'o':
            output_path = QFile::decodeName(optarg) + "/";
            break;
        case 't':
            parallel_processes = parse_process_count(optarg);
            if (parallel_processes < 1)
                refuse("ERROR: number of parallel processes must be a positive integer\n");
            break;
        case 's':
            if (!parse_shard(optarg, shard_index, shard_count))
                refuse("ERROR: shard must be K/N with 0 <= K < N\n");
            break;
        case 'a':
            if (!parse_u32(optarg, min_age))
                refuse("ERROR: minimum age must be a whole number of seconds\n");
            break;
        // Checked now, so that a run whose figures could not be stored does not start.
        case 'm': {
            const int err = metrics_file_error(optarg);
            if (err != 0)
                refuse(QString("ERROR: metrics file %1 cannot be written: %2\n").arg(QFile::decodeName(optarg), system_reason(err)));
            metrics_file = QFile::decodeName(optarg);
            break;
        }
        case 'e':
            quarantine_path = QFile::decodeName(optarg);
            break;
        case 'k':
            archive_path = QFile::decodeName(optarg);
            break;
        case 'n':
            dry_run = true;
            break;
        case 'z':
            fail_empty = true;
            break;
        case 'D':
            database = QString::fromUtf8(optarg);
            if (database.trimmed().isEmpty())
                refuse("ERROR: -D needs a connection string\n");
            break;
        case 'C':
            create_tables = true;
            break;
        case 'r':
            recursive = true;
            break;
        case 'd': {
            int level = -1;
            if (sscanf(optarg, "%i", &level) != 1 || level < 0 || level > 5)
                refuse("ERROR: debug level must be between 0=off (default) and 5 (extrem noisy)\n");
            debug_level = level;
            break;
        }
        default:
            elog.log("ERROR: not expected option found in argument list\n");
            elog.log_lines("HINT: see\n  Option -h\nto get some help\n\n");
            exit(exit_status::BAD_COMMAND_LINE);
        }
    }
    if (create_tables && database.isEmpty())
        refuse("ERROR: -C creates tables of the database that -D names; give -D too\n");
    check_keep_directories();
    return 0;
}

static const char *format_name(OUTPUT_FORMAT format)
{
    return format == OUTPUT_FORMAT::TSV ? "TSV" : format == OUTPUT_FORMAT::CSV ? "CSV" : "TEXT";
}

/// Settings that would write files no loader reads back are refused. A database takes
/// COPY's own text format, whatever the files would have been.
bool GL_PARAM::output_settings_sound()
{
    if (compression_level < 1 || compression_level > 9) {
        elog.log(QString("ERROR: COMPRESSION_LEVEL %1 is out of range: it must be 1 to 9\n").arg(compression_level));
        return false;
    }
    if (!database.isEmpty()) {
        output_format = OUTPUT_FORMAT::TSV;
        column_separator = "\t";
        return true;
    }
    if (output_format == OUTPUT_FORMAT::CSV && !separator_given)
        column_separator = ",";
    if (output_format == OUTPUT_FORMAT::TEXT)
        return true;
    const QByteArray separator = column_separator.toUtf8();
    const bool tsv = output_format == OUTPUT_FORMAT::TSV;
    if (separator.size() != 1 || QByteArray(tsv ? "\\\r\n" : "\"\r\n").contains(separator[0])) {
        elog.log(QString("ERROR: COLUMN_SEPARATOR \"%1\" cannot be used with OUTPUT_FORMAT %2: it must be a single "
                         "ASCII character other than %3, carriage return and line feed\n")
                     .arg(column_separator, format_name(output_format), tsv ? "backslash" : "double quote"));
        return false;
    }
    return true;
}

void GL_PARAM::dump()
{
    elog.debug(3, "CALLED: GL_PARAM::debug()\n");
    QString banner;
    for (const char *line : VERSION_BANNER)
        banner += QString::fromLatin1(line) + "\n";
    elog.log_lines(banner);
    elog.log("INFO: debug_level: " + QString::number(debug_level) + "\n");
    elog.log("INFO: mypid: " + QString::number(mypid) + "\n");
    elog.log("INFO: parallel processes: " + QString::number(parallel_processes) + "\n");
    elog.log("INFO: configuration file: " + configuration_file + "\n");
    elog.log("INFO: output_path: <" + output_path + ">\n");
    elog.log("INFO: input_path: <" + input_path + ">" + (recursive ? " and its subdirectories" : "") + "\n");
    elog.log("INFO: file mask: <" + file_mask + ">\n");
    elog.log("INFO: time format: <" + time_format + ">\n");
    elog.log("INFO: column separator: <" + column_separator + ">\n");
    elog.log(QString("INFO: max header size: <%1>\n").arg(max_header_size));
    elog.log(QString("INFO: shard: <%1/%2>\n").arg(shard_index).arg(shard_count));
    elog.log(QString("INFO: minimum age: <%1 s>\n").arg(min_age));
    elog.log("INFO: metrics file: <" + metrics_file + ">\n");
    elog.log("INFO: quarantine directory: <" + quarantine_path + ">\n");
    elog.log("INFO: archive directory: <" + archive_path + ">\n");
    elog.log(QString("INFO: absent values: <%1>\n").arg(empty_absent_values ? "EMPTY" : "KEEP"));
    elog.log(QString("INFO: output format: <%1>\n").arg(format_name(output_format)));
    elog.log(QString("INFO: compression level: <%1>\n").arg(compression_level));
    elog.log(QString("INFO: empty outputs: <%1>\n").arg(skip_empty_outputs ? "SKIP" : "KEEP"));
    elog.log(QString("INFO: database: <%1>%2\n").arg(database, create_tables ? " (tables created)" : ""));
}
