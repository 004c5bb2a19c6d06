#include "run_metrics.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data_file.h"
#include "elog.h"
#include "exit_status.h"
#include "gl_param.h"
#include "run_totals.h"

static QElapsedTimer run_clock;

void start_run_clock()
{
    run_clock.start();
}

static QByteArray family(const char *name, const char *help)
{
    return QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
}

/// The metrics of a run that ends now with status, in the Prometheus text format.
static QByteArray run_metrics(int status)
{
    const QByteArray shard = "shard=\"" + QByteArray::number(GL_param.shard_index) + '/' +
                             QByteArray::number(GL_param.shard_count) + '"';
    const int no_description = GL_param.files_no_description;
    const RUN_TOTALS totals = run_totals();
    const struct {
        const char *result;
        int count;
    } files[] = {{"converted", GL_param.processes_succeeded},
                 {"failed", GL_param.processes_failed - no_description},
                 {"no_description", no_description},
                 {"left_for_next_run", GL_param.files_left},
                 {"quarantined", GL_param.files_quarantined},
                 {"empty", int(totals.empty_files)}};
    QByteArray out = family("strandor_files", "Input files of the last run, by result; the quarantined "
                                              "are also counted as failed or no_description, the empty "
                                              "(no record) as converted.");
    for (const auto &f : files)
        out += "strandor_files{" + shard + ",result=\"" + f.result + "\"} " + QByteArray::number(f.count) + '\n';
    const auto single = [&](const char *name, const char *help, const QByteArray &value) {
        out += family(name, help) + name + '{' + shard + "} " + value + '\n';
    };
    single("strandor_input_bytes", "Bytes of the input files handed to workers in the last run.",
           QByteArray::number(GL_param.input_bytes));
    single("strandor_records_total", "Records written by the files converted in the last run.",
           QByteArray::number(totals.records));
    single("strandor_output_bytes_total", "Bytes of the output files of the files converted in the last run.",
           QByteArray::number(totals.output_bytes));
    single("strandor_run_seconds", "How long the last run took.",
           QByteArray::number(run_clock.isValid() ? run_clock.nsecsElapsed() / 1e9 : 0.0, 'f', 3));
    single("strandor_run_end_timestamp_seconds", "When the last run ended, in seconds since the epoch.",
           QByteArray::number(QDateTime::currentMSecsSinceEpoch() / 1e3, 'f', 3));
    single("strandor_exit_status", "Exit status of the last run; 0 when every file was converted.",
           QByteArray::number(status));
    return out;
}

/// Writes the text under a new, uniquely named temporary file beside path and renames it:
/// a reader sees the old file or the new one, never a part, and a link planted in the
/// shared directory is neither followed nor replaced. 0, or the errno of what failed.
static int write_replacing(const QByteArray &path, const QByteArray &text)
{
    struct stat st;
    if (lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return NOT_REGULAR_FILE;
    QByteArray temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    fchmod(fd, 0644); // for the collector, whatever user it runs as
    DATA_FILE file(fd);
    file.append(text);
    errno = EIO; // a short write sets none
    int err = file.finish() ? 0 : errno;
    if (err == 0 && rename(temporary.constData(), path.constData()) != 0)
        err = errno;
    if (err != 0)
        unlink(temporary.constData());
    return err;
}

bool write_run_metrics(int status)
{
    if (GL_param.metrics_file.isEmpty())
        return true;
    const int err = write_replacing(QFile::encodeName(GL_param.metrics_file), run_metrics(status));
    if (err != 0)
        elog.log(QString("ERROR: could not write metrics file %1: %2\n").arg(GL_param.metrics_file, system_reason(err)));
    return err == 0;
}

void end_run(int status)
{
    // A run refused as busy leaves the metrics to the run that is converting.
    if (status != exit_status::SHARD_BUSY && !write_run_metrics(status) && status == exit_status::OK)
        status = exit_status::FAILED;
    exit(status);
}
