// Reading a configuration is the parser's work: defined here, beside it, so that the
// run parameters need nothing of the configuration language.
#include "gl_param.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elog.h"
#include "exit_status.h"
#include "global_parser.h"

int GL_PARAM::read_configuration_file()
{
    elog.debug(3, "CALLED: GL_PARAM::read_configuration()\n");
    const QByteArray name = QFile::encodeName(configuration_file);
    elog.debug(4, QString("parsing file \"%1\"\n").arg(configuration_file));

    FILE *file = fopen(name.constData(), "rb");
    if (!file) {
        const int err = errno;
        elog.log(QString("ERROR: could not open configuration file \"%1\"\n").arg(configuration_file));
        elog.log(QString::asprintf("ERROR: system strerror() %s\n", strerror(err)));
        return exit_status::CONFIG_UNREADABLE;
    }
    elog.debug(5, "DEBUG: start parsing\n");
    if (parse_configuration(file) != 0) {
        fclose(file);
        elog.log(QString("ERROR: during global_parse() - file was: \"%1\"\n").arg(configuration_file));
        return exit_status::CONFIG_INVALID;
    }
    elog.debug(5, "DEBUG: end parsing\n");
    fclose(file);
    if (!configuration_sound(description_root) || !output_settings_sound())
        return exit_status::CONFIG_INVALID;
    if (column_separator.contains('\\'))
        elog.log(QString("WARNING: COLUMN_SEPARATOR \"%1\" holds a backslash; quoted strings have no escapes - "
                         "write the separator itself between the quotes\n").arg(column_separator));
    if (debug_level != 0)
        dump();
    elog.debug(3, "FINISH: parse_global()\n");
    return 0;
}
