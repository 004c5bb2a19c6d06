// Fuzz target: bytes in as an input XML file, converted end to end with a fixed
// configuration that uses every column kind.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "gl_param.h"
#include "global_parser.h"
#include "description.h"
#include "process_file.h"
#include "publication.h"

static const char CONFIG[] = R"CONF(
GLOBALS { COLUMN_SEPARATOR ";" }
INPUTFILE "xml" {
  GENERATES MEASUREMENT {
    MEASUREMENTNAME "values"
    GRANULARITY 15MIN
    MATCH { NEEDS "measValue" -> "r" AND NEEDS "r" }
    COLUMNS {
      UTC_FILESTAMP "time"
      ARGATTRIBUTE ( "measInfo", "measInfoId" ) "info"
      ARGATTRIBUTE ( "measValue" -> "r", "p" ) "p"
      ATTRIBUTE ( "measValue" -> "r" ) "value"
      BOOLATTRIBUTE ( "measValue" -> "suspect", "true" ) "suspect"
      REGEXPATTRIBUTE ( "measType", "^pm([A-Z][a-z]+)" ) "family"
      CONVERTATTRIBUTE MS_TO_UTC ( "ms" ) "utc"
      CONVERTATTRIBUTE MS_TO_LOCAL ( "ms" ) "local"
      CONVERTATTRIBUTE STRING_TO_UTC ( "start", "yyyy-MM-dd hh:mm:ss" ) "start_utc"
      CONVERTATTRIBUTE STRING_TO_LOCAL ( "start", "yyyy-MM-dd hh:mm:ss" ) "start_local"
    }
  }
  GENERATES MEASUREMENT {
    MEASUREMENTNAME "named"
    GRANULARITY 15MIN
    MATCH { NEEDS "measValue" -> "r" }
    COLUMNS {
      MAPATTRIBUTE ( "measInfo" -> "measType", "p" ) ( "measValue" -> "r", "p" ) "counter"
      MAPATTRIBUTE ( "measType", "p" ) ( "r", "p" ) "anywhere"
      LISTINDEX "i"
      LISTATTRIBUTE ( "measInfo" -> "measTypes" ) "types"
      LISTATTRIBUTE ( "measValue" -> "r" ) "r"
    }
  }
  GENERATES MEASUREMENT {
    MEASUREMENTNAME "all"
    GRANULARITY EVENT
    MATCH { VOID }
    COLUMNS { ATTRIBUTE ( "d" ) "d" ARGATTRIBUTE ( "d", "a" ) "a" }
  }
}
)CONF";

static QTemporaryDir *work;
static CONVERSION_SETUP setup;

static void set_up()
{
    work = new QTemporaryDir;
    QDir(work->path()).mkpath("input");
    QDir(work->path()).mkpath("output");
    GL_param.input_path = work->path() + "/input";
    GL_param.output_path = work->path() + "/output";
    FILE *in = fmemopen(const_cast<char *>(CONFIG), sizeof CONFIG - 1, "rb");
    if (parse_configuration(in) != 0)
        abort();
    fclose(in);
    setup.descriptions = new DESCRIPTIONS(GL_param.description_root);
    setup.destination = [](const INPUT_FATE &fate) { return std::unique_ptr<OUTPUT_SINK>(new FILE_PUBLICATION(fate)); };
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!work)
        set_up();
    const QString name = "fz_20240101_0001.xml";
    QFile input(GL_param.input_path + "/" + name);
    if (!input.open(QIODevice::WriteOnly | QIODevice::Truncate))
        abort();
    input.write(reinterpret_cast<const char *>(data), qint64(size));
    input.close();
    PROCESS_FILE(setup).start(GL_param.input_path, name); // keeps the input, which is removed here
    QDir output(GL_param.output_path);
    for (const QString &file : output.entryList(QDir::Files | QDir::Hidden))
        output.remove(file);
    return 0;
}
