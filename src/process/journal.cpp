#include "publication.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "attribute.h"
#include "data_file.h"
#include "elog.h"
#include "file_path.h"
#include "gl_param.h"
#include "move_file.h"
#include "safe_open.h"
#include "shard.h"

static QString journal_name(long pid)
{
    return join_path(GL_param.output_path, ".strandor." + process_tag(pid) + ".journal");
}

// Names are kept relative to the input and output directories, which another host may
// mount elsewhere. Fields are separated by NUL bytes, which no name holds: what becomes
// of the input ("0" kept, "1" removed, "a" and the archive relative to the input
// directory), the input file, "=" and the input's identity (journals of older versions
// lack it), then the temporary and the final name of each output file.
int write_journal(ATTRIBUTE *inputfile, const QString &file_name, const FILE_IDENTITY &identity,
                  bool remove_input, const QString &archive, const QStringList &in_place)
{
    const int prefix = GL_param.output_path.size() + 1;
    QByteArray fate = remove_input ? "1" : "0";
    if (remove_input && !archive.isEmpty())
        fate = "a" + QFile::encodeName(QDir(GL_param.input_path).relativeFilePath(QDir(archive).absolutePath()));
    QByteArray record = fate + '\0' + QFile::encodeName(file_name) + '\0' + '=' + identity.text();
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        if (m->output_name.isEmpty() || in_place.contains(m->output_name))
            continue;
        record += '\0' + QFile::encodeName(temporary_name(m->output_name, getpid()).mid(prefix));
        record += '\0' + QFile::encodeName(m->output_name.mid(prefix));
    }
    // Written beside its name and renamed, so that a journal is complete whenever it
    // exists: a process killed while writing it leaves a draft, which recovery removes.
    const QString name = journal_name(getpid());
    const QByteArray path = QFile::encodeName(name);
    const QByteArray draft = path + ".new";
    unlink(path.constData()); // left by a dead process whose tag was ours
    unlink(draft.constData());
    DATA_FILE journal(create_new(draft));
    journal.append(record);
    errno = EIO; // a short write sets none
    const bool written = journal.finish();
    const int err = journal.error() != 0 ? journal.error() : errno;
    const bool ok = written && rename(draft.constData(), path.constData()) == 0 && sync_directory(name);
    if (!ok) {
        log_write_failed(name, written ? errno : err);
        unlink(draft.constData());
        unlink(path.constData());
    }
    return ok ? 0 : 1;
}

void remove_journal()
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
