#ifndef STRANDOR_PARAMS_CONSTANTS_H
#define STRANDOR_PARAMS_CONSTANTS_H

#include <QString>

extern const QString DEFAULT_CONFIG_FILE;
extern const QString DEFAULT_INPUT_PATH;
extern const QString DEFAULT_OUTPUT_PATH;
extern const QString RX_INPUT_FILE_DATE;
extern const QString INPUT_DATE_STRING;
extern const QString INPUT_TIME_STRING;
extern const QString DEFAULT_TIME_FORMAT;
extern const QString FILENAME_PMS_DATEFORMAT;
extern const QString DEFAULT_FILE_MASK;
extern const QString DEFAULT_COLUMN_SEPARATOR;
extern const QString DEFAULT_RECORD_SEPARATOR;
/// Value of a column for which nothing was found, and of an emptied text buffer.
extern const QString CONST_NOT_AVAILABLE;

#endif
