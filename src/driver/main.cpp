#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "attribute.h"
#include "database.h"
#include "database_load.h"
#include "description.h"
#include "elog.h"
#include "run_totals.h"
#include "exit_status.h"
#include "file_path.h"
#include "gl_param.h"
#include "name_codec.h"
#include "process_file.h"
#include "publication.h"
#include "run_metrics.h"
#include "shard.h"
#include "worker_pool.h"
#include "xml_reader.h"

/// A folder that no listing of an input tree may enter: the archive, quarantine or output
/// directory, whose files would be read again as new inputs.
struct SKIPPED_FOLDER {
    dev_t device;
    ino_t inode;
};
static std::vector<SKIPPED_FOLDER> skipped_folders;

/// With -r, the folders of this run that lie inside the input tree; the start says so once.
static void skip_own_folders()
{
    if (!GL_param.recursive)
        return;
    const QString input = QFileInfo(GL_param.input_path).canonicalFilePath() + "/";
    const QString output = GL_param.database.isEmpty() ? GL_param.output_path : QString();
    for (const QString &path : {GL_param.archive_path, GL_param.quarantine_path, output}) {
        const QString canonical = path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
        struct stat st;
        if (canonical.isEmpty() || !canonical.startsWith(input) || stat(QFile::encodeName(canonical).constData(), &st) != 0)
            continue;
        skipped_folders.push_back({st.st_dev, st.st_ino});
        elog.log(QString("INFO: %1 lies inside the input tree and is not read\n").arg(QDir::cleanPath(path)));
    }
}

static bool is_skipped(const struct stat &st)
{
    return std::any_of(skipped_folders.begin(), skipped_folders.end(),
                       [&](const SKIPPED_FOLDER &f) { return f.device == st.st_dev && f.inode == st.st_ino; });
}

/// The files of this run's shard, each with its size, in the order of their names, case
/// ignored; files still young may still be being delivered, and are left for the next run.
/// Listed one entry at a time: only the names and sizes stay, packed, so that a fork and a
/// worker's end cost nothing in proportion to the files listed. With -r a file is named by
/// its path below the input directory; hidden entries and links to directories are passed
/// over, so no loop can occur. A folder that cannot be read is said once and fails the run.
static void list_input_files(const QString &path)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 min_age = qint64(GL_param.min_age) * 1000;
    struct LISTED {
        QString key;
        QString name;
        qint64 size;
    };
    std::vector<LISTED> listed;
    QStringList folders{QString()};
    int subdirectories = 0;
    while (!folders.isEmpty()) {
        const QString folder = folders.takeLast();
        const QString prefix = folder.isEmpty() ? QString() : folder + "/";
        const QByteArray directory = QFile::encodeName(folder.isEmpty() ? path : join_path(path, folder));
        DIR *dir = opendir(directory.constData());
        if (!dir) {
            const int err = errno;
            elog.log(QString("ERROR: could not read folder %1: %2\n").arg(folder.isEmpty() ? path : folder, system_reason(err)));
            GL_param.folders_unread += 1;
            continue;
        }
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.') // hidden, and the folder itself and its parent
                continue;
            const QString file_name = QFile::decodeName(entry->d_name);
            const QString name = prefix + file_name;
            struct stat own, st;
            if (fstatat(dirfd(dir), entry->d_name, &own, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            // A link is followed to what it names, never to a folder; a link to something
            // that is no file is listed, for its worker to refuse.
            const bool link = S_ISLNK(own.st_mode);
            if (link && (fstatat(dirfd(dir), entry->d_name, &st, 0) != 0 || S_ISDIR(st.st_mode)))
                continue;
            if (!link)
                st = own;
            if (S_ISDIR(st.st_mode)) {
                subdirectories += 1;
                if (GL_param.recursive && !is_skipped(st))
                    folders << name;
                continue;
            }
            if ((!link && !S_ISREG(st.st_mode)) || !in_own_shard(file_name))
                continue;
            const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
            if (min_age != 0 && now - mtime < min_age) {
                elog.debug(GL_param.dry_run ? 0 : 1, QString("INFO: %1 is younger than %2 s - left for the next run\n").arg(name).arg(GL_param.min_age));
                GL_param.files_left += 1;
                continue;
            }
            listed.push_back({name.toLower(), name, qint64(st.st_size)});
        }
        closedir(dir);
    }
    if (!GL_param.recursive && subdirectories != 0)
        elog.log(QString("INFO: %1 subdirectories of %2 are not read; use -r to convert input trees\n")
                     .arg(subdirectories).arg(QDir::cleanPath(path)));
    // Where no young file is named, their number tells why files do not go away.
    if (GL_param.files_left != 0 && GL_param.debug_level < 1 && !GL_param.dry_run)
        elog.log(QString("INFO: %1 files are younger than %2 s and wait for the next run\n")
                     .arg(GL_param.files_left).arg(GL_param.min_age));
    std::sort(listed.begin(), listed.end(), [](const LISTED &a, const LISTED &b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    GL_param.input_files.reserve(int(listed.size()));
    GL_param.input_sizes.reserve(int(listed.size()));
    for (LISTED &file : listed) {
        file.key.clear();
        GL_param.input_files << std::move(file.name);
        GL_param.input_sizes << file.size;
    }
}

static CONVERSION_SETUP setup;
/// How the ledger of -D tells files apart, found by prepare_database() before the workers.
static LEDGER_FORM ledger_form = LEDGER_FORM::UNKNOWN;

/// What every conversion of the run is given: the compiled descriptions, the fate of a
/// converted input, and where records go.
static void decide_conversion()
{
    setup.descriptions = new DESCRIPTIONS(GL_param.description_root); // for the life of the run
    setup.fate = INPUT_FATE::of_options(GL_param.debug_level, GL_param.archive_path);
    // What each worker would set up for itself is done here once and inherited.
    XML_READER::prepare();
    const QString database = GL_param.database;
    if (database.isEmpty())
        setup.destination = [](const INPUT_FATE &fate) { return std::unique_ptr<OUTPUT_SINK>(new FILE_PUBLICATION(fate)); };
    else
        setup.destination = [database](const INPUT_FATE &fate) {
            return std::unique_ptr<OUTPUT_SINK>(new DATABASE_LOAD(fate, database, ledger_form));
        };
}

/// Once, before any worker: -C creates the tables (workers that did so at once would
/// collide); without it a ledger of an earlier version is said once. When the database
/// cannot be asked, each worker asks for itself.
static void prepare_database()
{
    if (GL_param.database.isEmpty())
        return;
    DATABASE database;
    if (GL_param.create_tables) {
        if (!database.connect(GL_param.database) || !database.create_tables(*setup.descriptions))
            end_run(exit_status::FAILED);
        ledger_form = LEDGER_FORM::DIGEST;
        return;
    }
    if (database.connect(GL_param.database))
        ledger_form = database.ledger_form();
    if (ledger_form == LEDGER_FORM::NAME_SIZE_MTIME)
        elog.log("WARNING: database: the ledger strandor_files has no sha256 column - run once with -C; until then a "
                 "file is known by its name, size and modification time, and new bytes under an old name, size and "
                 "time are not told apart\n");
}

/// Faults that would fail every conversion, one file at a time, are told once at the start.
static void warn_of_certain_failures()
{
    struct stat st;
    const QByteArray output = QFile::encodeName(GL_param.output_path);
    if (!GL_param.database.isEmpty())
        elog.debug(1, "INFO: records go into the database - no output file is written\n");
    else if (stat(output.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        elog.log(QString("WARNING: output path %1 does not exist - every conversion will fail\n").arg(GL_param.output_path));
    else if (access(output.constData(), W_OK | X_OK) != 0)
        elog.log(QString("WARNING: output path %1 is not writable - every conversion will fail\n").arg(GL_param.output_path));
    for (const auto &description : setup.descriptions->all())
        for (const MEASUREMENT_PLAN &plan : description->plans)
            for (const QString &name : plan.long_names)
                elog.log(QString("WARNING: column name \"%1\" is longer than %2 characters - every file "
                                 "of its description will fail\n").arg(name).arg(GL_param.max_header_size));
}

/// Logs what a run would do with each listed file, and touches nothing.
[[noreturn]] static void dry_run()
{
    elog.log("INFO: dry run - nothing is converted, created or removed\n");
    int status = exit_status::OK;
    if (!GL_param.database.isEmpty()) {
        DATABASE database;
        if (!database.connect(GL_param.database) || !database.check_tables(*setup.descriptions, GL_param.create_tables))
            status = exit_status::FAILED;
    }
    // The real run would fail the second input that names an output of the first.
    QHash<QString, QString> writers;
    for (const QString &name : GL_param.input_files) {
        QStringList outputs;
        int rc = PROCESS_FILE(setup).plan(GL_param.input_path, name, &outputs);
        for (const QString &path : outputs) {
            if (writers.contains(path)) {
                elog.log(QString("ERROR: %1 and %2 would both write %3\n").arg(writers[path], name, path));
                rc = exit_status::FAILED;
            } else {
                writers.insert(path, name);
            }
        }
        if (rc == exit_status::NO_DESCRIPTION || (rc != 0 && status == exit_status::OK))
            status = rc;
    }
    if (GL_param.folders_unread != 0 && status == exit_status::OK)
        status = exit_status::FAILED;
    elog.log(QString("INFO: dry run: %1 files\n").arg(GL_param.input_files.size()));
    exit(status);
}

int main(int argc, char **argv)
{
    install_name_codec(); // before anything decodes a name or an argument
    // A stop is taken only where the pool's work is done, in the sleep loop below: the
    // handler logs and allocates, which is unsafe wherever else the signal might land.
    set_pool_signals_blocked(true);
    start_run_clock();
    auto *app = new QCoreApplication(argc, argv);
    elog.debug(3, "CALLED: main()\n");
    GL_param.parse_options(argc, argv);
    if (!GL_param.database.isEmpty()) {
        const QString fault = conninfo_fault(GL_param.database);
        if (!fault.isEmpty()) {
            elog.log(QString("ERROR: -D cannot be used: %1\n").arg(fault));
            elog.log("ERROR: aborting program\n");
            end_run(exit_status::BAD_COMMAND_LINE);
        }
    }
    install_terminate_handler();
    const int rc = GL_param.read_configuration_file();
    if (rc != 0) {
        elog.log("ERROR: error in configuration file\n");
        delete app;
        end_run(rc);
    }
    GL_param.dump();
    if (GL_param.debug_level != 0)
        ATTRIBUTE().dump(GL_param.description_root, 0); // the node called on plays no part
    // Once for the run: every worker inherits the compiled descriptions.
    decide_conversion();

    if (!QDir(GL_param.input_path).exists()) {
        elog.log("ERROR: input path " + GL_param.input_path + " does not exist\n");
        end_run(exit_status::FAILED);
    }
    // Checked before anything is touched: each converted file would fail at its removal,
    // with its outputs published, and fail again on every later run.
    const QByteArray input = QFile::encodeName(GL_param.input_path);
    if (!GL_param.dry_run && setup.fate.kind == INPUT_FATE::REMOVE
        && access(input.constData(), W_OK | X_OK) != 0) {
        elog.log(QString("ERROR: input directory %1 is not writable - converted files could not be removed\n")
                     .arg(QDir::cleanPath(GL_param.input_path)));
        end_run(exit_status::FAILED);
    }
    warn_of_certain_failures();
    skip_own_folders();
    if (GL_param.dry_run) {
        // A dry run touches nothing: a stop simply ends it.
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        set_pool_signals_blocked(false);
        list_input_files(GL_param.input_path);
        dry_run();
    }
    const int locked = lock_shard();
    if (locked != 0)
        end_run(locked);
    prepare_database();
    open_run_totals();
    // Before the listing: an input whose conversion a killed process had finished goes now.
    recover_leftovers();
    install_sigchld_handler();
    GL_param.processes_running = 0;
    list_input_files(GL_param.input_path);
    malloc_trim(0); // what the listing freed, so that forks do not carry it
    elog.log(QString("INFO: strandor will execute %1 processes parallel\n").arg(GL_param.parallel_processes));

    // A stop that came during the start-up is taken here, before any worker starts.
    set_pool_signals_blocked(false);
    set_pool_signals_blocked(true);
    start_pool(setup);
    set_pool_signals_blocked(false);
    // Nothing else may run here: the handlers do all pool work, and take a stop, between
    // these sleeps.
    for (;;)
        sleep(1000);
}
