#include "process_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "attribute.h"
#include "constants.h"
#include "data_file.h"
#include "description.h"
#include "elog.h"
#include "exit_status.h"
#include "gl_param.h"
#include "input_name.h"
#include "input_stream.h"
#include "run_totals.h"
#include "move_file.h"
#include "publication.h"
#include "xml_input_handler.h"
#include "xml_reader.h"

PROCESS_FILE::PROCESS_FILE()
{
    elog.debug(3, "CALLED: PROCESS_FILE::PROCESS_FILE()\n");
}

int PROCESS_FILE::start(QString input_directory, QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::start()\n");
    const QString input_name = input_directory + "/" + file_name;
    take_names(file_name);
    // A link to a FIFO would block the worker for ever, and a device is no measurement file.
    const int input = open_existing(QFile::encodeName(input_name), true);
    struct stat st;
    if (input >= 0 && fstat(input, &st) == 0)
        input_identity = FILE_IDENTITY::of(st);
    if (input < 0) {
        const int err = errno;
        elog.log("ERROR: opening file " + input_name + "\n");
        log_reason(err);
    }

    set_file_time(base_name);

    const int found = find_current_inputfile(base_name);
    if (found != 0) {
        elog.log("ERROR: no matching record description for " + input_name + "\n");
        elog.log("ERROR: file cannot be processed\n");
        return found;
    }
    ATTRIBUTE *inputfile = GL_param.current_inputfile;
    const bool to_database = !GL_param.database.isEmpty();
    if (to_database && input >= 0) {
        const int loaded = settle_loaded(input_name);
        if (loaded != 0) {
            close(input);
            return loaded > 0 ? exit_status::OK : exit_status::FAILED;
        }
    }
    if ((to_database ? open_load_files(inputfile) : open_output_files(inputfile)) != 0) {
        elog.log("ERROR: could not open output files\n");
        discard_output_files(inputfile, 0);
        return exit_status::FAILED;
    }
    bool parsed = false;
    XMLInputHandler handler;
    if (input >= 0) {
        INPUT_STREAM stream(input);
        parsed = XML_READER(&handler).parse(stream);
        if (!stream.fault().isEmpty())
            elog.log(QString("ERROR: could not read %1: %2\n").arg(input_name, stream.fault()));
        note_environment_fault(stream.read_error());
        close(input);
    }
    if (!parsed) {
        elog.log("ERROR: parsing unsuccessful\n");
        discard_output_files(inputfile, 0);
        return exit_status::FAILED;
    }
    elog.log("INFO: parsing successful\n");
    // A file that gives nothing is mostly one that its description does not fit.
    if (handler.records_made == 0) {
        elog.log(QString("%1: %2 gave no record\n").arg(GL_param.fail_empty ? "ERROR" : "WARNING", source_name));
        if (GL_param.fail_empty) {
            discard_output_files(inputfile, 0);
            return exit_status::FAILED;
        }
    }
    if (handler.unequal_records != 0)
        elog.log(QString("WARNING: %1: %2 records paired lists of unequal length, the first in line %3\n")
                     .arg(source_name)
                     .arg(handler.unequal_records)
                     .arg(handler.first_unequal_line));
    const int status = to_database ? load_records(inputfile, input_name, handler.records_made) : finish(inputfile, input_name);
    if (status == exit_status::OK) {
        int outputs = 0;
        for (const MEASUREMENT_PLAN &plan : description_of(inputfile).plans)
            outputs += publishes(plan);
        elog.log(QString(to_database ? "INFO: %1: %2 records loaded into %3 tables\n" : "INFO: %1: %2 records in %3 output files\n")
                     .arg(source_name).arg(handler.records_made).arg(outputs));
        add_to_run_totals(handler.records_made, output_bytes);
    }
    return status;
}

int PROCESS_FILE::plan(const QString &input_directory, const QString &file_name, QStringList *outputs)
{
    take_names(file_name);
    const int found = find_current_inputfile(base_name);
    if (found != 0) {
        elog.log("ERROR: no matching record description for " + input_directory + "/" + file_name + "\n");
        return found;
    }
    set_file_time(base_name);
    ATTRIBUTE *inputfile = GL_param.current_inputfile;
    elog.log(QString("INFO: %1: description \"%2\", stamp %3\n")
                 .arg(file_name, inputfile->text, GL_param.file_time.toString("yyyy-MM-dd hh:mm")));
    if (!has_measurements(inputfile))
        return exit_status::FAILED;
    QStringList own;
    // Which measurements give records, only the data can tell.
    const QString unless_empty = GL_param.skip_empty_outputs ? " unless it gets no record" : "";
    for (const MEASUREMENT_PLAN &m : description_of(inputfile).plans) {
        if (!GL_param.database.isEmpty()) {
            elog.log(QString("INFO: %1: would load table \"%2\"%3\n").arg(file_name, m.name, unless_empty));
            continue;
        }
        const QString path = QDir::cleanPath(output_file_name(m));
        if (path.isEmpty())
            return exit_status::FAILED;
        if (own.contains(path)) {
            elog.log(QString("ERROR: %1: two measurements of its description would write %2\n").arg(file_name, path));
            return exit_status::FAILED;
        }
        own << path;
        elog.log(QString("INFO: %1: would write %2%3\n").arg(file_name, path, unless_empty));
    }
    *outputs = own;
    return exit_status::OK;
}

void PROCESS_FILE::take_names(const QString &file_name)
{
    source_name = file_name;
    base_name = file_name.mid(file_name.lastIndexOf('/') + 1);
}

bool PROCESS_FILE::publishes(const MEASUREMENT_PLAN &plan)
{
    return !GL_param.skip_empty_outputs || plan.records != 0;
}

void PROCESS_FILE::set_file_time(const QString &file_name)
{
    GL_param.file_time = stamp_from_name(file_name);
    if (GL_param.file_time.isValid())
        return;
    elog.log("WARNING: could not extract date/time from input file name - using current time\n");
    elog.log("INFO: input file extensions is not \"_yyyyMMdd_hhmm.xml\"\n");
    // Held like a stamp from a name: the local wall-clock digits.
    const QDateTime now = QDateTime::currentDateTime();
    GL_param.file_time = QDateTime(now.date(), now.time(), Qt::UTC);
}

// Output is published and made durable before the input goes, so that a crash at any
// point leaves either the input or its complete output.
int PROCESS_FILE::finish(ATTRIBUTE *inputfile, const QString &input_name)
{
    if (close_output_files(inputfile) != 0) {
        elog.log("ERROR: could not close output files\n");
        discard_output_files(inputfile, 0);
        return exit_status::FAILED;
    }
    skip_empty_outputs(inputfile);
    // At debug level 0 the input goes: removed, or moved to the archive.
    const bool remove_input = GL_param.debug_level == 0;
    const QString archive = remove_input ? GL_param.archive_path : QString();
    if (settle_existing(inputfile) != 0)
        return exit_status::FAILED;
    if (write_journal(inputfile, source_name, input_identity, remove_input, archive, in_place) != 0) {
        discard_output_files(inputfile, 0);
        return exit_status::FAILED;
    }
    if (publish_output_files(inputfile) != 0) {
        remove_journal();
        return exit_status::FAILED;
    }
    const int status = release_input(input_name);
    remove_journal();
    return status;
}

int PROCESS_FILE::release_input(const QString &input_name)
{
    const bool remove_input = GL_param.debug_level == 0;
    const QString archive = remove_input ? GL_param.archive_path : QString();
    // A file delivered again under the same name during the conversion is not this one.
    if (remove_input && !still_names(QFile::encodeName(input_name), input_identity)) {
        log_replaced(source_name);
        return exit_status::OK;
    }
    if (!archive.isEmpty() && !move_keeping_path(GL_param.input_path, source_name, archive))
        return exit_status::FAILED;
    if (remove_input && archive.isEmpty() && !delete_file(input_name))
        return exit_status::FAILED;
    return exit_status::OK;
}

/// -D: connects. A file that the ledger holds was loaded by an earlier run that was
/// stopped before it could remove it: it goes now. 1 when it is done with, -1 on failure.
int PROCESS_FILE::settle_loaded(const QString &input_name)
{
    database.reset(new DATABASE);
    if (!database->connect())
        return -1;
    const int before = database->loaded_before(source_name, input_identity);
    if (before != 1)
        return before;
    const bool remove_input = GL_param.debug_level == 0;
    elog.log(QString("INFO: %1 was loaded before - %2\n").arg(source_name, remove_input ? "removed" : "kept"));
    return release_input(input_name) == exit_status::OK ? 1 : -1;
}

/// -D: the records are copied in one transaction with the file's row in the ledger; the
/// input goes only once that has been committed.
int PROCESS_FILE::load_records(ATTRIBUTE *inputfile, const QString &input_name, long long records)
{
    for (ATTRIBUTE *m = inputfile->child; m && m->type == TOK_MEASUREMENT; m = m->next) {
        // Unnamed files that end with the process: nothing to sync.
        const bool written = m->file->finish(false);
        output_bytes += m->file->size();
        if (!written)
            log_write_failed("(a temporary file)", m->file->error());
        delete m->file;
        m->file = nullptr;
        if (!written)
            return exit_status::FAILED;
    }
    std::vector<LOAD_PART> parts;
    const std::vector<MEASUREMENT_PLAN> &plans = description_of(inputfile).plans;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (publishes(plans[i]))
            parts.push_back(load_parts[i]);
    }
    if (!database->load(parts, source_name, input_identity, GL_param.file_time.toString(GL_param.time_format), records))
        return exit_status::FAILED;
    return release_input(input_name);
}

int PROCESS_FILE::find_current_inputfile(QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::set_current_measurement()\n");
    for (ATTRIBUTE *n = GL_param.description_root; n; n = n->next) {
        if (n->type != TOK_INPUTFILE) {
            elog.log("ERROR: expected token INPUTFILE\n");
            return exit_status::FAILED;
        }
        if (description_of(n).name_pattern.indexIn(file_name, 0) >= 0) {
            GL_param.current_inputfile = n;
            return 0;
        }
    }
    return exit_status::NO_DESCRIPTION;
}
