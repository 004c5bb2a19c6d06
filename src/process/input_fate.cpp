#include "input_fate.h"

INPUT_FATE INPUT_FATE::of_options(int debug_level, const QString &archive_path)
{
    INPUT_FATE fate;
    if (debug_level != 0)
        return fate;
    fate.kind = archive_path.isEmpty() ? REMOVE : ARCHIVE;
    fate.archive = archive_path;
    return fate;
}
