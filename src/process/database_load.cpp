#include "database_load.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "description.h"
#include "elog.h"
#include "gl_param.h"

DATABASE_LOAD::DATABASE_LOAD(const INPUT_FATE &fate, const QString &conninfo, LEDGER_FORM ledger)
    : OUTPUT_SINK(fate), conninfo(conninfo), ledger(ledger)
{
    // COPY takes the column names apart from the records: a database gets no header line.
    header_lines = false;
}

DATABASE_LOAD::~DATABASE_LOAD()
{
    close_parts();
}

void DATABASE_LOAD::close_parts()
{
    for (const LOAD_PART &part : parts)
        ::close(part.fd);
    parts.clear();
}

/// The SHA-256 of the bytes of fd as they lie on disk, compressed or not, read without
/// moving its offset; empty with err set when they cannot be read.
static QByteArray digest_of(int fd, int *err)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::unique_ptr<char[]> buffer(new char[1 << 18]);
    off_t at = 0;
    for (ssize_t n; (n = pread(fd, buffer.get(), 1 << 18, at)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *err = errno;
            return QByteArray();
        }
        hash.addData(buffer.get(), int(n));
        at += n;
    }
    return hash.result().toHex();
}

OUTCOME DATABASE_LOAD::settle(const INPUT_FILE &input_file, bool *done_before)
{
    *done_before = false;
    database.reset(new DATABASE);
    if (!database->connect(conninfo))
        return OUTCOME::failed(database->failure_reason());
    if (ledger == LEDGER_FORM::UNKNOWN && (ledger = database->ledger_form()) == LEDGER_FORM::UNKNOWN)
        return OUTCOME::failed(database->failure_reason());
    sha256.clear();
    if (ledger == LEDGER_FORM::DIGEST) {
        int err = 0;
        sha256 = digest_of(input_file.fd, &err);
        if (sha256.isEmpty()) {
            elog.log(QString("ERROR: could not read %1\n").arg(input_file.path));
            log_reason(err);
            return OUTCOME::failed(err);
        }
    }
    const int before = database->loaded_before(input_file.source_name, input_file.identity, sha256);
    if (before < 0)
        return OUTCOME::failed(database->failure_reason());
    *done_before = before == 1;
    if (*done_before)
        elog.log(QString("INFO: %1 was loaded before - %2\n").arg(input_file.source_name, fate.goes() ? "removed" : "kept"));
    return OUTCOME::done();
}

/// An unnamed file in the temporary directory: what is left of it goes with the process.
/// Its name, gone at once, still tells messages which file system failed.
static int unnamed_file(QString *path, int *err)
{
    QByteArray name = QFile::encodeName(QDir::tempPath() + "/.strandor.XXXXXX");
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    *path = QFile::decodeName(name);
    if (fd >= 0) {
        unlink(name.constData());
        return fd;
    }
    *err = errno;
    elog.log(QString("ERROR: could not create a temporary file in %1\n").arg(QDir::tempPath()));
    log_reason(*err);
    return -1;
}

OUTCOME DATABASE_LOAD::open(const DESCRIPTION &description, const INPUT_FILE &input_file)
{
    input = &input_file;
    close_parts();
    names.assign(description.plans.size(), QString());
    return open_measurements(description, [&](const MEASUREMENT_PLAN &plan) {
        int err = 0;
        const int fd = unnamed_file(&names[plan.index], &err);
        if (fd < 0)
            return OUTCOME::failed(err);
        files[plan.index].reset(new DATA_FILE(fd));
        const int copy = dup(fd);
        if (copy < 0) {
            err = errno;
            log_reason(err);
            return OUTCOME::failed(err);
        }
        parts.push_back({plan.name, plan.column_names, copy});
        return OUTCOME::done();
    });
}

/// The records are copied in one transaction with the file's row in the ledger; the
/// input goes only once that has been committed.
OUTCOME DATABASE_LOAD::commit(const std::vector<long> &records)
{
    long long total = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        // Unnamed files that end with the process: nothing to sync.
        const bool written = files[i]->finish(false);
        output_bytes += files[i]->size();
        const int err = files[i]->error();
        files[i].reset();
        if (!written) {
            log_write_failed(names[i], err);
            return OUTCOME::failed(err);
        }
        total += records[i];
    }
    std::vector<LOAD_PART> loaded;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (publishes(records[i]))
            loaded.push_back(parts[i]);
    }
    if (!database->load(loaded, input->source_name, input->identity, sha256, input->stamp.toString(GL_param.time_format),
                        total))
        return OUTCOME::failed(database->failure_reason());
    return OUTCOME::done();
}

void DATABASE_LOAD::abort()
{
    for (auto &file : files)
        file.reset();
    close_parts();
}

int DATABASE_LOAD::plan(const DESCRIPTION &description, const INPUT_FILE &input_file, QStringList *)
{
    // Which measurements give records, only the data can tell.
    const QString unless_empty = GL_param.skip_empty_outputs ? " unless it gets no record" : "";
    for (const MEASUREMENT_PLAN &m : description.plans)
        elog.log(QString("INFO: %1: would load table \"%2\"%3\n").arg(input_file.source_name, m.name, unless_empty));
    return 0;
}
