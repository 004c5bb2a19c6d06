#include "publication.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <unistd.h>

#include "attribute.h"
#include "data_file.h"
#include "elog.h"
#include "gl_param.h"

static QString journal_name(long pid)
{
    return GL_param.output_path + "/.strandor." + QString::number(pid) + ".journal";
}

/// Absolute, so that a run started elsewhere finds the same files.
static QByteArray absolute(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).absoluteFilePath());
}

// Fields are separated by NUL bytes, which no path holds: the removal flag, the input
// file, then the temporary and the final name of each output file.
int write_journal(ATTRIBUTE *inputfile, const QString &input_name, bool remove_input)
{
    QByteArray record = QByteArray(remove_input ? "1" : "0") + '\0' + absolute(input_name);
    for (ATTRIBUTE *m = inputfile->child; m; m = m->next) {
        record += '\0' + absolute(temporary_name(m->output_name, getpid()));
        record += '\0' + absolute(m->output_name);
    }
    const QString name = journal_name(getpid());
    QFile::remove(name);
    QFile journal(name);
    const bool ok = journal.open(QIODevice::WriteOnly | QIODevice::NewOnly)
                    && journal.write(record) == record.size() && journal.flush()
                    && fsync(journal.handle()) == 0 && sync_directory(name);
    if (!ok) {
        log_write_failed(name);
        journal.remove();
    }
    return ok ? 0 : 1;
}

void remove_journal()
{
    QFile::remove(journal_name(getpid()));
}

/// Moves what is left of a dead worker's output to its final names and removes its
/// input, as the worker would have done; an output name taken meanwhile keeps the input.
static void finish_publication(long pid)
{
    QFile journal(journal_name(pid));
    if (!journal.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> fields = journal.readAll().split('\0');
    journal.close();
    bool complete = fields.size() >= 2 && fields.size() % 2 == 0;
    for (int i = 2; complete && i + 1 < fields.size(); i += 2) {
        if (QFile::exists(QFile::decodeName(fields[i])) && rename_no_replace(fields[i], fields[i + 1]) != 0) {
            log_exists(QFile::decodeName(fields[i + 1]));
            complete = false;
        }
        complete = complete && QFile::exists(QFile::decodeName(fields[i + 1]));
    }
    if (complete) {
        sync_directory(journal.fileName());
        const QString input = QFile::decodeName(fields[1]);
        if (fields[0] == "1" && QFile::exists(input) && !QFile::remove(input))
            elog.log(QString("ERROR: could not delete file %1\n").arg(input));
        elog.log(QString("INFO: finished the interrupted conversion of %1\n").arg(input));
    }
    journal.remove();
}

void recover_worker(long pid)
{
    finish_publication(pid);
    QDir output(GL_param.output_path);
    const QStringList names = output.entryList({QString(".*.%1.part").arg(pid)},
                                               QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names)
        output.remove(name);
}

void recover_dead_workers()
{
    static const QRegularExpression left(QStringLiteral("^\\.(?:strandor\\.([0-9]+)\\.journal|.+\\.([0-9]+)\\.part)$"));
    QDir output(GL_param.output_path);
    QList<long> dead;
    for (const QString &name : output.entryList({".*"}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = left.match(name);
        if (!match.hasMatch())
            continue;
        const long pid = (match.captured(1) + match.captured(2)).toLong();
        // Files of a worker that still runs (of another run, say) are left to it.
        if (!dead.contains(pid) && kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            dead.append(pid);
    }
    for (long pid : dead)
        recover_worker(pid);
}
