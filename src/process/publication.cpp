#include "publication.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "attribute.h"
#include "constants.h"
#include "data_file.h"
#include "description.h"
#include "elog.h"
#include "file_path.h"
#include "gl_param.h"
#include "input_name.h"
#include "move_file.h"
#include "safe_open.h"
#include "shard.h"

static void remove_journal();

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

static bool is_digit(const QString &text, int i)
{
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

/// Whether the mask holds the placeholder %<digit>, not followed by a further digit, as the
/// newer form of masks writes it. Scanned by hand: a worker names its outputs once, and a
/// regular expression would be compiled anew in each.
static bool mask_holds(const QString &mask, char digit)
{
    for (int i = mask.indexOf('%'); i >= 0; i = mask.indexOf('%', i + 1)) {
        if (i + 1 < mask.size() && mask[i + 1] == QLatin1Char(digit) && !is_digit(mask, i + 2))
            return true;
    }
    return false;
}

static bool mask_names_source(const QString &mask)
{
    return mask_holds(mask, '5') || mask_holds(mask, '6');
}

/// An output of an earlier input is in the way. Without the source's name in the mask,
/// the files of one quarter hour share their names; in an input tree, without its path,
/// the files of one name in several folders do.
static void log_taken(const QString &path)
{
    log_exists(path);
    elog.log("ERROR: could not open output files\n");
    const char placeholder = GL_param.recursive ? '6' : '5';
    if (!mask_holds(GL_param.file_mask, placeholder) && !mask_holds(GL_param.file_mask, '6'))
        elog.log(QString("HINT: several input files map to this output name; put %%1 into FILE_MASK "
                         "to keep one output per input file\n").arg(placeholder));
}

/// What %6 stands for: the input's path below the input directory less ".gz" and its
/// extension, each "/" written as "_", so that inputs of one name in several folders of a
/// tree keep outputs of their own.
QString source_path_stem(const QString &source_name)
{
    const int slash = source_name.lastIndexOf('/');
    return QString(source_name.left(slash + 1) + source_stem(source_name.mid(slash + 1))).replace('/', '_');
}

/// QString::arg on the lowest placeholder; a mask without one drops the value
/// (without the warning that arg() would print).
static QString fill_placeholder(const QString &mask, const QString &value)
{
    for (int i = mask.indexOf('%'); i >= 0; i = mask.indexOf('%', i + 1)) {
        if (is_digit(mask, i + 1))
            return mask.arg(value);
    }
    return mask;
}

/// A mask that names the source (a newer form) is filled by position: %1 to %6 each stand
/// for their own value wherever they are, in one pass, so that a "%" in a value stays literal.
static QString fill_positions(const QString &mask, const QString (&values)[6])
{
    QString result;
    int i = 0;
    while (i < mask.size()) {
        if (mask[i] == '%' && i + 1 < mask.size() && mask[i + 1] >= '1' && mask[i + 1] <= '6' && !is_digit(mask, i + 2)) {
            result += values[mask[i + 1].unicode() - '1'];
            i += 2;
        } else {
            result += mask[i++];
        }
    }
    return result;
}

QString FILE_PUBLICATION::output_file_name(const MEASUREMENT_PLAN &plan, const INPUT_FILE &input)
{
    if (!plan.naming_fault.isEmpty()) {
        elog.log(plan.naming_fault);
        return QString();
    }
    const QString values[] = {input.stamp.toString(FILENAME_PMS_DATEFORMAT),
                              QString::fromLatin1(plan.granularity_letter), plan.name, GL_param.version,
                              source_stem(input.base_name), source_path_stem(input.source_name)};
    QString file_name = GL_param.file_mask;
    if (mask_names_source(file_name))
        return GL_param.output_path + "/" + fill_positions(file_name, values);
    for (int i = 0; i < 4; ++i)
        file_name = fill_placeholder(file_name, values[i]);
    // Spelled as the log has always shown output names: "out//name" for -o out.
    return GL_param.output_path + "/" + file_name;
}

FILE_PUBLICATION::~FILE_PUBLICATION() = default;

OUTCOME FILE_PUBLICATION::open(const DESCRIPTION &description, const INPUT_FILE &input_file)
{
    elog.debug(3, "CALLED: PROCESS_FILE::open_output_files()\n");
    input = &input_file;
    names.assign(description.plans.size(), QString());
    return open_measurements(description, [&](const MEASUREMENT_PLAN &plan) {
        const QString path = output_file_name(plan, input_file);
        return path.isEmpty() ? OUTCOME::failed() : create(plan.index, path);
    });
}

/// Two measurements of one input that end up with the same name collide like a rerun does.
OUTCOME FILE_PUBLICATION::create(size_t measurement, const QString &path)
{
    if (std::find(names.begin(), names.begin() + long(measurement), path) != names.begin() + long(measurement)) {
        log_exists(path);
        return OUTCOME::failed();
    }
    // A file in place is compared with this conversion's output once it is written.
    names[measurement] = path;
    const QString temp = temporary_name(path, getpid());
    const QByteArray temp_name = QFile::encodeName(temp);
    unlink(temp_name.constData()); // left by a dead process whose tag was ours
    const int fd = create_new(temp_name);
    if (fd < 0) {
        const int err = errno;
        elog.log(QString("ERROR: could not open file %1\n").arg(path));
        log_reason(err);
        return OUTCOME::failed(err);
    }
    files[measurement].reset(new DATA_FILE(fd, path.endsWith(".gz") ? GL_param.compression_level : 0));
    return OUTCOME::done();
}

// Output is published and made durable before the input goes, so that a crash at any
// point leaves either the input or its complete output.
OUTCOME FILE_PUBLICATION::commit(const std::vector<long> &records)
{
    OUTCOME outcome = close_files();
    if (!outcome.ok()) {
        elog.log("ERROR: could not close output files\n");
        discard(0);
        return outcome;
    }
    skip_empty(records);
    outcome = settle_existing();
    if (!outcome.ok())
        return outcome;
    outcome = write_journal();
    if (!outcome.ok()) {
        discard(0);
        return outcome;
    }
    outcome = publish();
    if (!outcome.ok())
        remove_journal();
    return outcome;
}

void FILE_PUBLICATION::close()
{
    remove_journal();
}

/// Flushes, syncs and closes each output file, adding up their sizes.
OUTCOME FILE_PUBLICATION::close_files()
{
    elog.debug(3, "CALLED: PROCESS_FILE::close_output_files()\n");
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i])
            return OUTCOME::failed(EBADF);
        const int err = files[i]->finish() ? 0 : files[i]->error();
        output_bytes += files[i]->size();
        files[i].reset();
        if (err != 0) {
            log_write_failed(names[i], err);
            return OUTCOME::failed(err);
        }
    }
    return OUTCOME::done();
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
void FILE_PUBLICATION::roll_back(size_t published)
{
    remove_journal();
    discard(published);
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
OUTCOME FILE_PUBLICATION::settle_existing()
{
    in_place.clear();
    for (const QString &name : names) {
        if (name.isEmpty() || !QFile::exists(name))
            continue;
        const QString temp = temporary_name(name, getpid());
        if (!same_content(temp, name)) {
            log_taken(name);
            elog.log(QString("HINT: %1 holds other data; move it away to convert %2\n").arg(name, input->source_name));
            discard(0);
            return OUTCOME::failed();
        }
        elog.log(QString("INFO: %1 is in place with the same content - %2 was converted before\n").arg(name, input->source_name));
        QFile::remove(temp);
        in_place << name;
    }
    return OUTCOME::done();
}

/// EMPTY_OUTPUTS SKIP: a measurement without records publishes nothing. Its temporary file
/// goes, and with its name cleared the journal and the publication pass over it.
void FILE_PUBLICATION::skip_empty(const std::vector<long> &records)
{
    for (size_t i = 0; i < names.size(); ++i) {
        if (publishes(records[i]) || names[i].isEmpty())
            continue;
        const QString temp = temporary_name(names[i], getpid());
        output_bytes -= QFileInfo(temp).size();
        QFile::remove(temp);
        names[i].clear();
    }
}

OUTCOME FILE_PUBLICATION::publish()
{
    size_t published = 0;
    for (; published < names.size(); ++published) {
        const QString &name = names[published];
        if (name.isEmpty() || in_place.contains(name))
            continue;
        const QByteArray final_name = QFile::encodeName(name);
        const QByteArray temp = QFile::encodeName(temporary_name(name, getpid()));
        if (rename_no_replace(temp, final_name) != 0) {
            const int err = errno;
            if (err == EEXIST) {
                log_taken(name);
                log_reason(err);
            } else {
                log_write_failed(name, err);
            }
            roll_back(published);
            return OUTCOME::failed(err);
        }
    }
    // Usually all files share one directory: each directory is synced once.
    QStringList synced;
    for (const QString &name : names) {
        const QString directory = QFileInfo(name).absolutePath();
        if (name.isEmpty() || synced.contains(directory))
            continue;
        if (!sync_directory(name)) {
            const int err = errno;
            log_write_failed(name, err);
            roll_back(published);
            return OUTCOME::failed(err);
        }
        synced << directory;
    }
    return OUTCOME::done();
}

void FILE_PUBLICATION::discard(size_t published)
{
    for (size_t i = 0; i < names.size(); ++i) {
        if (i < files.size())
            files[i].reset();
        if (names[i].isEmpty())
            continue;
        QFile::remove(temporary_name(names[i], getpid()));
        if (i < published && !in_place.contains(names[i]))
            QFile::remove(names[i]);
    }
}

int FILE_PUBLICATION::plan(const DESCRIPTION &description, const INPUT_FILE &input_file, QStringList *outputs)
{
    QStringList own;
    // Which measurements give records, only the data can tell.
    const QString unless_empty = GL_param.skip_empty_outputs ? " unless it gets no record" : "";
    for (const MEASUREMENT_PLAN &m : description.plans) {
        const QString path = QDir::cleanPath(output_file_name(m, input_file));
        if (path.isEmpty())
            return 1;
        if (own.contains(path)) {
            elog.log(QString("ERROR: %1: two measurements of its description would write %2\n").arg(input_file.source_name, path));
            return 1;
        }
        own << path;
        elog.log(QString("INFO: %1: would write %2%3\n").arg(input_file.source_name, path, unless_empty));
    }
    *outputs = own;
    return 0;
}

static QString journal_name(long pid)
{
    return join_path(GL_param.output_path, ".strandor." + process_tag(pid) + ".journal");
}

// Names are kept relative to the input and output directories, which another host may
// mount elsewhere. Fields are separated by NUL bytes, which no name holds: what becomes
// of the input ("0" kept, "1" removed, "a" and the archive relative to the input
// directory), the input file, "=" and the input's identity (journals of older versions
// lack it), then the temporary and the final name of each output file.
OUTCOME FILE_PUBLICATION::write_journal()
{
    const int prefix = GL_param.output_path.size() + 1;
    QByteArray fates = fate.goes() ? "1" : "0";
    if (fate.kind == INPUT_FATE::ARCHIVE)
        fates = "a" + QFile::encodeName(QDir(GL_param.input_path).relativeFilePath(QDir(fate.archive).absolutePath()));
    QByteArray record = fates + '\0' + QFile::encodeName(input->source_name) + '\0' + '=' + input->identity.text();
    for (const QString &name : names) {
        if (name.isEmpty() || in_place.contains(name))
            continue;
        record += '\0' + QFile::encodeName(temporary_name(name, getpid()).mid(prefix));
        record += '\0' + QFile::encodeName(name.mid(prefix));
    }
    // Written beside its name and renamed, so that a journal is complete whenever it
    // exists: a process killed while writing it leaves a draft, which recovery removes.
    // It is not synced: it serves a process that is killed, whose writes the system
    // keeps. After a crash of the system the outputs it names are on disk already
    // (synced before their renames) and the input still is: converted again, the input
    // finds them in place with the same content. An empty journal that a crash left
    // behind is dropped by recovery.
    const QString name = journal_name(getpid());
    const QByteArray path = QFile::encodeName(name);
    const QByteArray draft = path + ".new";
    unlink(path.constData()); // left by a dead process whose tag was ours
    unlink(draft.constData());
    DATA_FILE journal(create_new(draft));
    journal.append(record);
    errno = EIO; // a short write sets none
    const bool written = journal.finish(false);
    const int err = journal.error() != 0 ? journal.error() : errno;
    const bool ok = written && rename(draft.constData(), path.constData()) == 0;
    if (ok)
        return OUTCOME::done();
    const int failed = written ? errno : err;
    log_write_failed(name, failed);
    unlink(draft.constData());
    unlink(path.constData());
    return OUTCOME::failed(failed);
}

static void remove_journal()
{
    QFile::remove(journal_name(getpid()));
}

static bool plain_name(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/');
}

/// An input below the input directory: plain names joined by "/", none leading out of it.
static bool relative_name(const QByteArray &name)
{
    const QList<QByteArray> parts = name.split('/');
    return std::all_of(parts.begin(), parts.end(), plain_name);
}

QString read_journal(const QString &path, const QString &tag, JOURNAL &j)
{
    static const qint64 MAX_SIZE = 1 << 20;
    const int fd = open_existing(QFile::encodeName(path));
    if (fd < 0)
        return system_reason(errno);
    QFile file;
    QByteArray bytes;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        bytes = file.read(MAX_SIZE + 1);
    if (bytes.size() > MAX_SIZE)
        return "it is too large";
    QList<QByteArray> fields = bytes.split('\0');
    if (fields.size() >= 3 && fields[2].startsWith('=')) {
        j.has_identity = j.identity.parse(fields.takeAt(2).mid(1));
        if (!j.has_identity)
            return "its input identity is malformed";
    }
    if (fields.size() < 2 || fields.size() % 2 != 0)
        return "it is incomplete";
    j.fate = fields[0];
    j.input = fields[1];
    if (!relative_name(j.input))
        return "its input is not a file name below the input directory";
    for (int i = 2; i + 1 < fields.size(); i += 2) {
        if (!plain_name(fields[i + 1]) || fields[i] != "." + fields[i + 1] + "." + tag.toUtf8() + ".part")
            return "its output names are not plain file names of this process";
        j.outputs << qMakePair(fields[i], fields[i + 1]);
    }
    if (j.fate.startsWith('a')) {
        j.archive = join_path(GL_param.input_path, QFile::decodeName(j.fate.mid(1)));
        if (GL_param.archive_path.isEmpty() || !same_file(j.archive, GL_param.archive_path))
            return "its archive is not this run's archive directory";
    } else if (j.fate != "0" && j.fate != "1") {
        return "its input's fate is unknown";
    }
    return QString();
}

/// Moves one output to its final name, as its process would have. A temporary file that
/// is gone was published, whether or not a loader has taken the final file since; a final
/// name that is a hard link of its temporary file is a publication that was interrupted
/// between link() and unlink(). False, with the reason logged, when the name is taken.
static bool finish_output(const QByteArray &temporary, const QByteArray &final_name)
{
    struct stat ts, fs;
    if (lstat(temporary.constData(), &ts) != 0)
        return true;
    if (lstat(final_name.constData(), &fs) == 0 && fs.st_dev == ts.st_dev && fs.st_ino == ts.st_ino)
        return unlink(temporary.constData()) == 0 || errno == ENOENT;
    if (rename_no_replace(temporary, final_name) == 0)
        return true;
    const int err = errno;
    if (err == EEXIST)
        log_exists(QFile::decodeName(final_name));
    else
        log_write_failed(QFile::decodeName(final_name), err);
    return false;
}

/// Moves what is left of a dead process's output to its final names and removes its
/// input, as the process would have done; an output name taken meanwhile keeps the input.
/// False when the journal is refused and stays, with its process's temporary files.
static bool finish_publication(const QString &journal_path, const QString &tag)
{
    if (QFileInfo(journal_path).size() == 0) {
        elog.log(QString("INFO: journal %1 is empty: the system stopped before it reached the disk - removed\n").arg(journal_path));
        QFile::remove(journal_path);
        return true;
    }
    JOURNAL j;
    const QString refused = read_journal(journal_path, tag, j);
    if (!refused.isEmpty()) {
        elog.log(QString("ERROR: journal %1 refused: %2 - left in place\n").arg(journal_path, refused));
        return false;
    }
    bool complete = true;
    for (const auto &names : j.outputs) {
        const QByteArray temporary = QFile::encodeName(join_path(GL_param.output_path, QFile::decodeName(names.first)));
        const QByteArray final_name = QFile::encodeName(join_path(GL_param.output_path, QFile::decodeName(names.second)));
        complete = finish_output(temporary, final_name) && complete;
    }
    if (complete) {
        sync_directory(journal_path);
        const QString input = GL_param.input_path + "/" + QFile::decodeName(j.input);
        const bool exists = QFileInfo::exists(input);
        if (exists && j.fate != "0" && j.has_identity && !still_names(QFile::encodeName(input), j.identity))
            log_replaced(QFile::decodeName(j.input));
        else if (exists && j.fate == "1")
            delete_file(input);
        else if (exists && !j.archive.isEmpty())
            move_keeping_path(GL_param.input_path, QFile::decodeName(j.input), j.archive);
        elog.log(QString("INFO: finished the interrupted conversion of %1\n").arg(input));
    }
    QFile::remove(journal_path);
    return true;
}

/// Finishes the journals, then removes the temporary files, of the processes whose tag
/// matches the pattern; a refused journal keeps its process's temporary files.
static void recover(const QString &tag_pattern)
{
    const QRegularExpression journal("^\\.strandor\\.(" + tag_pattern + ")\\.journal$");
    const QRegularExpression part("^\\..+\\." + tag_pattern + "\\.part$|^\\.strandor\\." + tag_pattern + "\\.journal\\.new$");
    QDir output(GL_param.output_path);
    const QStringList names = output.entryList({".*"}, QDir::Files | QDir::Hidden | QDir::System);
    QStringList kept;
    for (const QString &name : names) {
        const QRegularExpressionMatch found = journal.match(name);
        if (found.hasMatch() && !finish_publication(output.filePath(name), found.captured(1)))
            kept << "." + found.captured(1) + ".part";
    }
    for (const QString &name : names) {
        if (!part.match(name).hasMatch())
            continue;
        if (std::none_of(kept.begin(), kept.end(), [&](const QString &end) { return name.endsWith(end); }))
            output.remove(name);
    }
}

void recover_worker(long pid)
{
    recover(process_tag_pattern(pid));
}

void recover_leftovers()
{
    recover(process_tag_pattern(-1));
}
