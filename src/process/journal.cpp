#include "publication.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <unistd.h>

#include "attribute.h"
#include "data_file.h"
#include "elog.h"
#include "gl_param.h"
#include "move_file.h"
#include "shard.h"

static QString journal_name(long pid)
{
    return GL_param.output_path + "/.strandor." + process_tag(pid) + ".journal";
}

// Names are kept relative to the input and output directories, which another host may
// mount elsewhere. Fields are separated by NUL bytes, which no name holds: what becomes
// of the input ("0" kept, "1" removed, "a" and the archive relative to the input
// directory), the input file, then the temporary and the final name of each output file.
int write_journal(ATTRIBUTE *inputfile, const QString &file_name, bool remove_input, const QString &archive)
{
    const int prefix = GL_param.output_path.size() + 1;
    QByteArray fate = remove_input ? "1" : "0";
    if (remove_input && !archive.isEmpty())
        fate = "a" + QFile::encodeName(QDir(GL_param.input_path).relativeFilePath(QDir(archive).absolutePath()));
    QByteArray record = fate + '\0' + QFile::encodeName(file_name);
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        record += '\0' + QFile::encodeName(temporary_name(m->output_name, getpid()).mid(prefix));
        record += '\0' + QFile::encodeName(m->output_name.mid(prefix));
    }
    const QString name = journal_name(getpid());
    QFile::remove(name);
    QFile journal(name);
    const bool ok = journal.open(QIODevice::WriteOnly | QIODevice::NewOnly)
                    && journal.write(record) == record.size() && journal.flush()
                    && fsync(journal.handle()) == 0 && sync_directory(name);
    if (!ok) {
        log_write_failed(name, errno);
        journal.remove();
    }
    return ok ? 0 : 1;
}

void remove_journal()
{
    QFile::remove(journal_name(getpid()));
}

/// Moves what is left of a dead process's output to its final names and removes its
/// input, as the process would have done; an output name taken meanwhile keeps the input.
static void finish_publication(const QString &journal_path)
{
    QFile journal(journal_path);
    if (!journal.open(QIODevice::ReadOnly))
        return;
    QList<QByteArray> fields = journal.readAll().split('\0');
    journal.close();
    bool complete = fields.size() >= 2 && fields.size() % 2 == 0;
    const QByteArray output = QFile::encodeName(GL_param.output_path + "/");
    for (int i = 2; complete && i + 1 < fields.size(); i += 2) {
        fields[i].prepend(output);
        fields[i + 1].prepend(output);
        if (QFile::exists(QFile::decodeName(fields[i])) && rename_no_replace(fields[i], fields[i + 1]) != 0) {
            log_exists(QFile::decodeName(fields[i + 1]));
            complete = false;
        }
        complete = complete && QFile::exists(QFile::decodeName(fields[i + 1]));
    }
    if (complete) {
        sync_directory(journal_path);
        const QString input = GL_param.input_path + "/" + QFile::decodeName(fields[1]);
        if (fields[0] == "1" && QFile::exists(input))
            delete_file(input);
        if (fields[0].startsWith('a') && QFile::exists(input))
            move_into(input, GL_param.input_path + "/" + QFile::decodeName(fields[0].mid(1)));
        elog.log(QString("INFO: finished the interrupted conversion of %1\n").arg(input));
    }
    journal.remove();
}

/// Finishes the journals, then removes the temporary files, of the processes whose tag
/// matches the pattern.
static void recover(const QString &tag_pattern)
{
    const QRegularExpression journal("^\\.strandor\\." + tag_pattern + "\\.journal$");
    const QRegularExpression part("^\\..+\\." + tag_pattern + "\\.part$");
    QDir output(GL_param.output_path);
    const QStringList names = output.entryList({".*"}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names)
        if (journal.match(name).hasMatch())
            finish_publication(output.filePath(name));
    for (const QString &name : names)
        if (part.match(name).hasMatch())
            output.remove(name);
}

void recover_worker(long pid)
{
    recover(process_tag_pattern(pid));
}

void recover_leftovers()
{
    recover(process_tag_pattern(-1));
}
