// The constants, the event log and the run parameters are defined here, in this order,
// so that each exists before the next one's constructor uses it.
#include "constants.h"
#include "elog.h"
#include "gl_param.h"

const QString DEFAULT_CONFIG_FILE = QStringLiteral("/opt/strandor/config/strandor.conf");
const QString DEFAULT_INPUT_PATH = QStringLiteral("/opt/strandor/input");
const QString DEFAULT_OUTPUT_PATH = QStringLiteral("/opt/strandor/output");
const QString RX_INPUT_FILE_DATE = QStringLiteral("^.*_([0-9]{8})_([0-9]{4}).*$");
const QString INPUT_DATE_STRING = QStringLiteral("yyyyMMdd");
const QString INPUT_TIME_STRING = QStringLiteral("hhmm");
const QString DEFAULT_TIME_FORMAT = QStringLiteral("yyMMdd hh:mm");
const QString FILENAME_PMS_DATEFORMAT = QStringLiteral("yyMMddhhmm");
const QString DEFAULT_FILE_MASK = QStringLiteral("%1_%2_%3_%4.data");
const QString DEFAULT_COLUMN_SEPARATOR = QStringLiteral("\t");
const QString DEFAULT_RECORD_SEPARATOR = QStringLiteral("\n");
const QString CONST_NOT_AVAILABLE = QString("");

ELOG elog;
GL_PARAM GL_param;
