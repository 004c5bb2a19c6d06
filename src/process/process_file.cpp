#include "process_file.h"

#include <QDate>
#include <QFile>
#include <QRegExp>
#include <QRegularExpression>
#include <QTime>
#include <QXmlSimpleReader>

#include "attribute.h"
#include "constants.h"
#include "elog.h"
#include "gl_param.h"
#include "fast_reader.h"
#include "xml_input_handler.h"

PROCESS_FILE::PROCESS_FILE()
{
    elog.debug(3, "CALLED: PROCESS_FILE::PROCESS_FILE()\n");
}

int PROCESS_FILE::start(QString input_directory, QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::start()\n");
    const QString input_name = input_directory + "/" + file_name;
    QFile input(input_name);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Text))
        elog.log("ERROR: opening file " + input_name + "\n");

    set_file_time(file_name);

    const int found = find_current_inputfile(file_name);
    if (found != 0) {
        elog.log("ERROR: no matching record description for " + input_name + "\n");
        elog.log("ERROR: file cannot be processed\n");
        return found;
    }
    ATTRIBUTE *inputfile = GL_param.current_inputfile;
    if (open_output_files(inputfile) != 0) {
        elog.log("ERROR: could not open output files\n");
        discard_output_files(inputfile, 0);
        return 1;
    }
    if (!parse(input, input_name)) {
        elog.log("ERROR: parsing unsuccessful\n");
        discard_output_files(inputfile, 0);
        return 1;
    }
    elog.log("INFO: parsing successful\n");
    return finish(inputfile, input, input_name);
}

void PROCESS_FILE::set_file_time(const QString &file_name)
{
    // A Perl-style engine: its greedy ".*" takes the last stamp group of the name,
    // where QRegExp's captures would take the first.
    static const QRegularExpression stamp(RX_INPUT_FILE_DATE);
    QDateTime time = GL_param.file_time;
    const QRegularExpressionMatch found = stamp.match(file_name);
    if (found.hasMatch()) {
        time.setDate(QDate::fromString(found.captured(1), INPUT_DATE_STRING));
        time.setTime(QTime::fromString(found.captured(2), INPUT_TIME_STRING));
        GL_param.file_time = time;
    } else {
        elog.log("WARNING: could not extract date/time from input file name - using current time\n");
        elog.log("INFO: input file extensions is not \"_yyyyMMdd_hhmm.xml\"\n");
        GL_param.file_time = QDateTime::currentDateTime();
    }
}

bool PROCESS_FILE::parse(QFile &input, [[maybe_unused]] const QString &input_name)
{
#ifndef STRANDOR_QT_READER_ONLY
    // The fast reader's messages count only if it gets through; otherwise the file is
    // converted anew by QXmlSimpleReader, whose messages and decisions then stand.
    elog.hold();
    QString reason;
    {
        XMLInputHandler handler;
        FastReader reader(&handler);
        if (reader.parse(input_name)) {
            elog.release();
            return true;
        }
        reason = reader.reason();
    }
    elog.drop_held();
    ATTRIBUTE *inputfile = GL_param.current_inputfile;
    discard_output_files(inputfile, 0);
    const int reopened = open_output_files(inputfile);
    if (reopened == 0)
        elog.drop_held(); // the same traces as the first opening
    elog.release();
    if (reopened != 0) {
        elog.log("ERROR: could not open output files\n");
        return false;
    }
    elog.debug(4, "DEBUG: fast reader gave up (" + reason + "), reading again with QXmlSimpleReader\n");
#endif
    return parse_with_qt(input);
}

bool PROCESS_FILE::parse_with_qt(QFile &input)
{
    QXmlInputSource source(&input);
    QXmlSimpleReader reader;
    XMLInputHandler handler;
    reader.setContentHandler(&handler);
    reader.setErrorHandler(&handler);
    return reader.parse(&source);
}

// Output is published and made durable before the input goes, so that a crash at any
// point leaves either the input or its complete output.
int PROCESS_FILE::finish(ATTRIBUTE *inputfile, QFile &input, const QString &input_name)
{
    if (close_output_files(inputfile) != 0) {
        elog.log("ERROR: could not close output files\n");
        discard_output_files(inputfile, 0);
        return 1;
    }
    const bool remove_input = GL_param.debug_level == 0;
    if (write_journal(inputfile, input_name, remove_input) != 0) {
        discard_output_files(inputfile, 0);
        return 1;
    }
    if (publish_output_files(inputfile) != 0) {
        remove_journal();
        return 1;
    }
    if (remove_input && !input.remove()) {
        elog.log(QString("ERROR: could not delete file %1\n").arg(input_name));
        remove_journal();
        return 1;
    }
    remove_journal();
    return 0;
}

int PROCESS_FILE::find_current_inputfile(QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::set_current_measurement()\n");
    for (ATTRIBUTE *n = GL_param.description_root; n; n = n->next) {
        if (n->type != tok::INPUTFILE) {
            elog.log("ERROR: expected token INPUTFILE\n");
            return 1;
        }
        QRegExp pattern(n->text, Qt::CaseSensitive, QRegExp::RegExp);
        if (pattern.indexIn(file_name, 0) >= 0) {
            GL_param.current_inputfile = n;
            return 0;
        }
    }
    return 22;
}
