#include "process_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "attribute.h"
#include "column_kinds.h"
#include "constants.h"
#include "data_file.h"
#include "description.h"
#include "elog.h"
#include "gl_param.h"
#include "input_name.h"
#include "publication.h"
#include "safe_open.h"
#include "shard.h"

QString temporary_name(const QString &final_name, long pid)
{
    const int slash = final_name.lastIndexOf('/');
    return final_name.left(slash + 1) + "." + final_name.mid(slash + 1) + "." + process_tag(pid) + ".part";
}

void log_exists(const QString &path)
{
    elog.log(QString("ERROR: file %1 already exists - aborting \n").arg(path));
}

void log_replaced(const QString &file_name)
{
    elog.log(QString("INFO: %1 was replaced during its conversion - the new file stays for the next run\n").arg(file_name));
}

static bool mask_names_source(const QString &mask)
{
    static const QRegularExpression five(QStringLiteral("%5(?![0-9])"));
    return mask.contains(five);
}

/// An output of an earlier input is in the way. Without the source's name in the mask,
/// the files of one quarter hour share their names.
static void log_taken(const QString &path)
{
    log_exists(path);
    if (!mask_names_source(GL_param.file_mask))
        elog.log("HINT: several input files map to this output name; put %5 into FILE_MASK "
                 "to keep one output per input file\n");
}

/// QString::arg on the lowest placeholder; a mask without one drops the value
/// (without the warning that arg() would print).
static QString fill_placeholder(const QString &mask, const QString &value)
{
    static const QRegularExpression placeholder(QStringLiteral("%[0-9]"));
    return mask.contains(placeholder) ? mask.arg(value) : mask;
}

/// A mask that names the source (a newer form) is filled by position: %1 to %5 each stand
/// for their own value wherever they are, in one pass, so that a "%" in a value stays literal.
static QString fill_positions(const QString &mask, const QString (&values)[5])
{
    static const QRegularExpression placeholder(QStringLiteral("%([1-5])(?![0-9])"));
    QString result;
    int done = 0;
    QRegularExpressionMatchIterator it = placeholder.globalMatch(mask);
    while (it.hasNext()) {
        const QRegularExpressionMatch found = it.next();
        result += mask.midRef(done, found.capturedStart() - done);
        result += values[found.capturedRef(1).toInt() - 1];
        done = found.capturedEnd();
    }
    return result + mask.midRef(done);
}

QString PROCESS_FILE::output_file_name(const MEASUREMENT_PLAN &plan) const
{
    if (!plan.naming_fault.isEmpty()) {
        elog.log(plan.naming_fault);
        return QString();
    }
    const QString values[] = {GL_param.file_time.toString(FILENAME_PMS_DATEFORMAT),
                              QString::fromLatin1(plan.granularity_letter), plan.name, GL_param.version,
                              source_stem(base_name)};
    QString file_name = GL_param.file_mask;
    if (mask_names_source(file_name))
        return GL_param.output_path + "/" + fill_positions(file_name, values);
    for (int i = 0; i < 4; ++i)
        file_name = fill_placeholder(file_name, values[i]);
    // Spelled as the log has always shown output names: "out//name" for -o out.
    return GL_param.output_path + "/" + file_name;
}

/// Two measurements of one input that end up with the same name collide like a rerun does.
static bool taken_by_earlier(ATTRIBUTE *inputfile, ATTRIBUTE *m, const QString &path)
{
    for (ATTRIBUTE *other = inputfile->child; other != m; other = other->next) {
        if (other->output_name == path)
            return true;
    }
    return false;
}

static int create_output_file(ATTRIBUTE *inputfile, ATTRIBUTE *m, const QString &path)
{
    if (taken_by_earlier(inputfile, m, path)) {
        log_exists(path);
        return 1;
    }
    // A file in place is compared with this conversion's output once it is written.
    m->output_name = path;
    const QString temp = temporary_name(path, getpid());
    const QByteArray temp_name = QFile::encodeName(temp);
    unlink(temp_name.constData()); // left by a dead process whose tag was ours
    const int fd = create_new(temp_name);
    if (fd < 0) {
        const int err = errno;
        elog.log(QString("ERROR: could not open file %1\n").arg(path));
        log_reason(err);
        return 1;
    }
    m->file = new DATA_FILE(fd, path.endsWith(".gz") ? GL_param.compression_level : 0);
    return 0;
}

/// COPY takes the column names apart from the records: a database gets no header line.
static int write_header(const MEASUREMENT_PLAN &plan, bool header_line = true)
{
    if (!plan.header_fault.isEmpty()) {
        elog.log(plan.header_fault);
        return 1;
    }
    plan.columns->clear_result();
    if (header_line)
        plan.measurement->file->append(plan.header);
    return 0;
}

static int prepare_match(const MEASUREMENT_PLAN &plan)
{
    if (!plan.match_fault.isEmpty()) {
        elog.log(plan.match_fault);
        return 1;
    }
    return 0;
}

// A description without measurements is refused: converting it would remove the input
// and leave nothing in its place.
bool PROCESS_FILE::has_measurements(const ATTRIBUTE *inputfile)
{
    if (inputfile->child && inputfile->child->type == TOK_MEASUREMENT)
        return true;
    elog.log("ERROR: MEASUREMENT expected\n");
    return false;
}

int PROCESS_FILE::open_output_files(ATTRIBUTE *inputfile)
{
    elog.debug(3, "CALLED: PROCESS_FILE::open_output_files()\n");
    if (!has_measurements(inputfile))
        return 1;
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next)
        m->output_name.clear();
    for (const MEASUREMENT_PLAN &plan : description_of(inputfile).plans) {
        const QString path = output_file_name(plan);
        if (path.isEmpty() || create_output_file(inputfile, plan.measurement, path) != 0)
            return 1;
        if (write_header(plan) != 0 || prepare_match(plan) != 0)
            return 1;
    }
    return 0;
}

/// An unnamed file in the temporary directory: what is left of it goes with the process.
static int unnamed_file()
{
    const QByteArray pattern = QFile::encodeName(QDir::tempPath() + "/.strandor.XXXXXX");
    QByteArray name = pattern;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        unlink(name.constData());
        return fd;
    }
    const int err = errno;
    elog.log(QString("ERROR: could not create a temporary file in %1\n").arg(QDir::tempPath()));
    log_reason(err);
    return -1;
}

int PROCESS_FILE::open_load_files(ATTRIBUTE *inputfile)
{
    if (!has_measurements(inputfile))
        return 1;
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next)
        m->output_name.clear();
    for (const LOAD_PART &part : load_parts)
        close(part.fd);
    load_parts.clear();
    for (const MEASUREMENT_PLAN &plan : description_of(inputfile).plans) {
        const int fd = unnamed_file();
        if (fd < 0)
            return 1;
        plan.measurement->file = new DATA_FILE(fd);
        const int copy = dup(fd);
        if (copy < 0) {
            log_reason(errno);
            return 1;
        }
        load_parts.push_back({plan.name, plan.column_names, copy});
        if (write_header(plan, false) != 0 || prepare_match(plan) != 0)
            return 1;
    }
    return 0;
}

/// Flushes, syncs and closes one output file, adding its size to bytes; 0, or the errno of
/// what failed.
static int close_one(ATTRIBUTE *m, long long *bytes)
{
    if (!m->file)
        return EBADF;
    const int err = m->file->finish() ? 0 : m->file->error();
    *bytes += m->file->size();
    delete m->file;
    m->file = nullptr;
    return err;
}

int PROCESS_FILE::close_output_files(ATTRIBUTE *inputfile)
{
    elog.debug(3, "CALLED: PROCESS_FILE::close_output_files()\n");
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        if (m->type != TOK_MEASUREMENT) {
            elog.log("ERROR: MEASUREMENT expected\n");
            return 1;
        }
        const int err = close_one(m, &output_bytes);
        if (err != 0) {
            log_write_failed(m->output_name, err);
            return 1;
        }
    }
    return 0;
}

int rename_no_replace(const QByteArray &from, const QByteArray &to)
{
    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // File systems without RENAME_NOREPLACE: link() refuses an existing name just as well.
    if (link(from.constData(), to.constData()) != 0)
        return -1;
    unlink(from.constData());
    return 0;
}

bool sync_directory(const QString &path)
{
    const int fd = open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                        O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    const int err = errno;
    close(fd);
    errno = err;
    return ok;
}

/// Recovery takes a temporary file that is gone for one that was published: the journal
/// goes first, so that a kill during the roll-back leaves a name in the way, never a loss.
void PROCESS_FILE::roll_back(ATTRIBUTE *inputfile, int published)
{
    remove_journal();
    discard_output_files(inputfile, published);
}

/// Whether the two files hold the same bytes.
static bool same_content(const QString &a, const QString &b)
{
    QFile first(a), second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) || first.size() != second.size())
        return false;
    while (!first.atEnd()) {
        const QByteArray chunk = first.read(1 << 16);
        if (chunk.isEmpty() || chunk != second.read(chunk.size()))
            return false;
    }
    return true;
}

/// Outputs whose names are taken already: a file delivered again finds its own output,
/// byte for byte, and counts as converted before; other data there fails the input.
/// Settled before the journal, which then names only the outputs still to publish.
int PROCESS_FILE::settle_existing(ATTRIBUTE *inputfile)
{
    in_place.clear();
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        if (!QFile::exists(m->output_name))
            continue;
        const QString temp = temporary_name(m->output_name, getpid());
        if (!same_content(temp, m->output_name)) {
            log_taken(m->output_name);
            elog.log(QString("HINT: %1 holds other data; move it away to convert %2 again\n").arg(m->output_name, source_name));
            discard_output_files(inputfile, 0);
            return 1;
        }
        elog.log(QString("INFO: %1 is in place with the same content - %2 was converted before\n").arg(m->output_name, source_name));
        QFile::remove(temp);
        in_place << m->output_name;
    }
    return 0;
}

/// EMPTY_OUTPUTS SKIP: a measurement without records publishes nothing. Its temporary file
/// goes, and with its name cleared the journal and the publication pass over it.
void PROCESS_FILE::skip_empty_outputs(ATTRIBUTE *inputfile)
{
    for (const MEASUREMENT_PLAN &plan : description_of(inputfile).plans) {
        if (publishes(plan) || plan.measurement->output_name.isEmpty())
            continue;
        const QString temp = temporary_name(plan.measurement->output_name, getpid());
        output_bytes -= QFileInfo(temp).size();
        QFile::remove(temp);
        plan.measurement->output_name.clear();
    }
}

int PROCESS_FILE::publish_output_files(ATTRIBUTE *inputfile)
{
    int published = 0;
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next, ++published) {
        if (m->output_name.isEmpty() || in_place.contains(m->output_name))
            continue;
        const QByteArray final_name = QFile::encodeName(m->output_name);
        const QByteArray temp = QFile::encodeName(temporary_name(m->output_name, getpid()));
        if (rename_no_replace(temp, final_name) != 0) {
            const int err = errno;
            if (err == EEXIST) {
                log_taken(m->output_name);
                log_reason(err);
            } else {
                log_write_failed(m->output_name, err);
            }
            roll_back(inputfile, published);
            return 1;
        }
    }
    // Usually all files share one directory: each directory is synced once.
    QStringList synced;
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        const QString directory = QFileInfo(m->output_name).absolutePath();
        if (m->output_name.isEmpty() || synced.contains(directory))
            continue;
        if (!sync_directory(m->output_name)) {
            log_write_failed(m->output_name, errno);
            roll_back(inputfile, published);
            return 1;
        }
        synced << directory;
    }
    return 0;
}

void PROCESS_FILE::discard_output_files(ATTRIBUTE *inputfile, int published)
{
    int index = 0;
    for (ATTRIBUTE *m = inputfile->child; m && m->type == TOK_MEASUREMENT; m = m->next, ++index) {
        delete m->file;
        m->file = nullptr;
        if (m->output_name.isEmpty())
            continue;
        QFile::remove(temporary_name(m->output_name, getpid()));
        if (index < published && !in_place.contains(m->output_name))
            QFile::remove(m->output_name);
    }
}
