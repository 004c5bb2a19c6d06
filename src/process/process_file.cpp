#include "process_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "attribute.h"
#include "description.h"
#include "elog.h"
#include "exit_status.h"
#include "gl_param.h"
#include "input_name.h"
#include "input_stream.h"
#include "iso_time.h"
#include "stamp_reader.h"
#include "move_file.h"
#include "publication.h"
#include "run_totals.h"
#include "xml_input_handler.h"
#include "xml_reader.h"

PROCESS_FILE::PROCESS_FILE(const CONVERSION_SETUP &setup) : setup(setup)
{
    elog.debug(3, "CALLED: PROCESS_FILE::PROCESS_FILE()\n");
}

int PROCESS_FILE::status_of(const OUTCOME &outcome)
{
    if (outcome.ok())
        return exit_status::OK;
    const int err = outcome.error();
    const bool outside = err == ENOSPC || err == EDQUOT || err == EIO || err == EROFS || err == OUTSIDE_THE_FILE;
    return outside ? exit_status::RETRY_LATER : exit_status::FAILED;
}

// Reads straight down: the input is settled with its destination, parsed into the sink,
// committed or aborted there, and then meets its fate.
int PROCESS_FILE::start(QString input_directory, QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::start()\n");
    take_names(input_directory, file_name);
    // A link to a FIFO would block the worker for ever, and a device is no measurement file.
    const int fd = open_existing(QFile::encodeName(input.path), true);
    OUTCOME read = OUTCOME::done();
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0)
        input.identity = FILE_IDENTITY::of(st);
    input.fd = fd;
    if (fd < 0) {
        const int err = errno;
        elog.log("ERROR: opening file " + input.path + "\n");
        log_reason(err);
        read = OUTCOME::failed(err);
    }

    // The description is only looked at here, for a STAMP; its choice, with its messages,
    // follows as it always did.
    set_file_time(input.base_name, fd, setup.descriptions->any_stamp() ? matching(input.base_name) : nullptr);

    const int found = find_current_inputfile(input.base_name);
    if (found != 0) {
        elog.log("ERROR: no matching record description for " + input.path + "\n");
        elog.log("ERROR: file cannot be processed\n");
        return found;
    }
    const std::unique_ptr<OUTPUT_SINK> sink = setup.destination(setup.fate);
    if (fd >= 0) {
        bool done_before = false;
        const OUTCOME settled = sink->settle(input, &done_before);
        if (!settled.ok() || done_before) {
            close(fd);
            return status_of(settled.ok() ? release_input() : settled);
        }
    }
    const OUTCOME opened = sink->open(*description, input);
    if (!opened.ok()) {
        elog.log("ERROR: could not open output files\n");
        sink->abort();
        return status_of(opened);
    }
    XMLInputHandler handler(*description, input.source_name,
                            input.stamp.toString(description->layout.time_format).toUtf8(), *sink,
                            GL_param.debug_level >= 3);
    bool parsed = false;
    if (fd >= 0) {
        INPUT_STREAM stream(fd);
        parsed = XML_READER(&handler).parse(stream);
        if (!stream.fault().isEmpty())
            elog.log(QString("ERROR: could not read %1: %2\n").arg(input.path, stream.fault()));
        read = OUTCOME::failed(handler.write_error != 0 ? handler.write_error : stream.read_error());
        close(fd);
    }
    if (!parsed) {
        elog.log("ERROR: parsing unsuccessful\n");
        sink->abort();
        return status_of(read);
    }
    elog.log("INFO: parsing successful\n");
    // A file that gives nothing is mostly one that its description does not fit.
    if (handler.records_made == 0) {
        elog.log(QString("%1: %2 gave no record\n").arg(GL_param.fail_empty ? "ERROR" : "WARNING", input.source_name));
        if (GL_param.fail_empty) {
            sink->abort();
            return exit_status::FAILED;
        }
    }
    if (handler.unequal_records != 0)
        elog.log(QString("WARNING: %1: %2 records paired lists of unequal length, the first in line %3\n")
                     .arg(input.source_name)
                     .arg(handler.unequal_records)
                     .arg(handler.first_unequal_line));
    for (const MEASUREMENT_PLAN &plan : description->plans) {
        for (const PLAN_COLUMN &column : plan.column_list) {
            long first_line = 0;
            const long failed = handler.unconverted(column, &first_line);
            if (failed != 0)
                elog.log(QString("WARNING: %1: %2 values of column %3 could not be converted, the first in line %4\n")
                             .arg(input.source_name).arg(failed).arg(column.node->text).arg(first_line));
        }
    }
    std::vector<long> records;
    int outputs = 0;
    for (const MEASUREMENT_PLAN &plan : description->plans) {
        records.push_back(handler.records_of(plan.index));
        outputs += publishes(records.back());
    }
    const OUTCOME committed = sink->commit(records);
    if (!committed.ok())
        return status_of(committed);
    const OUTCOME released = release_input();
    sink->close();
    if (released.ok()) {
        elog.log(QString(sink->count_line()).arg(input.source_name).arg(handler.records_made).arg(outputs));
        add_to_run_totals(handler.records_made, sink->output_bytes);
    }
    return status_of(released);
}

int PROCESS_FILE::plan(const QString &input_directory, const QString &file_name, QStringList *outputs)
{
    take_names(input_directory, file_name);
    const int found = find_current_inputfile(input.base_name);
    if (found != 0) {
        elog.log("ERROR: no matching record description for " + input.path + "\n");
        return found;
    }
    const int fd = description->stamp_from == DESCRIPTION::STAMP_FROM::CONTENT
                       ? open_existing(QFile::encodeName(input.path), true) : -1;
    set_file_time(input.base_name, fd, description);
    if (fd >= 0)
        close(fd);
    // Where the stamp came from, when the description says where to take it.
    const QString origin = description->stamp_from == DESCRIPTION::STAMP_FROM::NAME ? QString() : " from " + stamp_origin;
    elog.log(QString("INFO: %1: description \"%2\", stamp %3%4\n")
                 .arg(file_name, description->inputfile->text, input.stamp.toString("yyyy-MM-dd hh:mm"), origin));
    if (!has_measurements(*description))
        return exit_status::FAILED;
    return setup.destination(setup.fate)->plan(*description, input, outputs) == 0 ? exit_status::OK
                                                                                   : exit_status::FAILED;
}

void PROCESS_FILE::take_names(const QString &directory, const QString &file_name)
{
    input_directory = directory;
    input.path = directory + "/" + file_name;
    input.source_name = file_name;
    input.base_name = file_name.mid(file_name.lastIndexOf('/') + 1);
}

/// The stamp that the description's STAMP gives, or an invalid one; a value there that is
/// no date and time is warned of.
QDateTime PROCESS_FILE::configured_stamp(const DESCRIPTION &chosen, const QString &file_name, int fd)
{
    if (chosen.stamp_from == DESCRIPTION::STAMP_FROM::PATTERN) {
        QRegExp pattern = chosen.stamp_pattern;
        if (pattern.indexIn(file_name) < 0)
            return QDateTime();
        const QDate date(pattern.cap(1).toInt(), pattern.cap(2).toInt(), pattern.cap(3).toInt());
        const QTime time(pattern.cap(4).toInt(), pattern.cap(5).toInt());
        stamp_origin = "the pattern";
        return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
    }
    if (chosen.stamp_from != DESCRIPTION::STAMP_FROM::CONTENT || fd < 0)
        return QDateTime();
    QByteArray value, attribute;
    bool found;
    {
        INPUT_STREAM head(fd);
        found = find_stamp(head, chosen.stamp_sources, &value, &attribute);
    }
    lseek(fd, 0, SEEK_SET); // the parse reads the file from its start
    ISO_TIME time;
    if (found && time.parse(value.constData(), size_t(value.size()))) {
        stamp_origin = QString::fromUtf8(attribute);
        return time.wall_clock();
    }
    if (found)
        elog.log(QString("WARNING: %1: no time stamp in %2 - using the name\n").arg(input.source_name, QString::fromUtf8(attribute)));
    return QDateTime();
}

void PROCESS_FILE::set_file_time(const QString &file_name, int fd, const DESCRIPTION *chosen)
{
    input.stamp = chosen ? configured_stamp(*chosen, file_name, fd) : QDateTime();
    if (input.stamp.isValid())
        return;
    stamp_origin = "the name";
    input.stamp = stamp_from_name(file_name);
    if (!input.stamp.isValid()) {
        elog.log("WARNING: could not extract date/time from input file name - using current time\n");
        elog.log("INFO: input file extensions is not \"_yyyyMMdd_hhmm.xml\"\n");
        // Held like a stamp from a name: the local wall-clock digits.
        const QDateTime now = QDateTime::currentDateTime();
        input.stamp = QDateTime(now.date(), now.time(), Qt::UTC);
        stamp_origin = "the current time";
    }
}

OUTCOME PROCESS_FILE::release_input()
{
    // A file delivered again under the same name during the conversion is not this one.
    if (setup.fate.goes() && !still_names(QFile::encodeName(input.path), input.identity)) {
        log_replaced(input.source_name);
        return OUTCOME::done();
    }
    switch (setup.fate.kind) {
    case INPUT_FATE::ARCHIVE:
        return move_keeping_path(input_directory, input.source_name, setup.fate.archive);
    case INPUT_FATE::REMOVE:
        return delete_file(input.path);
    case INPUT_FATE::KEEP:
        break;
    }
    return OUTCOME::done();
}

const DESCRIPTION *PROCESS_FILE::matching(const QString &file_name) const
{
    for (const auto &candidate : setup.descriptions->all()) {
        if (candidate->inputfile->type == TOK_INPUTFILE && candidate->name_pattern.indexIn(file_name, 0) >= 0)
            return candidate.get();
    }
    return nullptr;
}

int PROCESS_FILE::find_current_inputfile(QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::set_current_measurement()\n");
    for (const auto &candidate : setup.descriptions->all()) {
        if (candidate->inputfile->type != TOK_INPUTFILE) {
            elog.log("ERROR: expected token INPUTFILE\n");
            return exit_status::FAILED;
        }
        if (candidate->name_pattern.indexIn(file_name, 0) >= 0) {
            description = candidate.get();
            return 0;
        }
    }
    return exit_status::NO_DESCRIPTION;
}
