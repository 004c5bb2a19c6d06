#ifndef STRANDOR_PROCESS_INPUT_FATE_H
#define STRANDOR_PROCESS_INPUT_FATE_H

#include <QString>

/// What becomes of an input once its records are safe, decided once for the run.
struct INPUT_FATE {
    enum KIND { KEEP, REMOVE, ARCHIVE };
    KIND kind = KEEP;
    /// ARCHIVE: the directory it moves into, keeping its path below the input directory.
    QString archive;

    /// At debug level 0 a converted input goes: into the archive directory when there is
    /// one (-k), else it is removed; at higher levels it stays for another look.
    static INPUT_FATE of_options(int debug_level, const QString &archive_path);
    bool goes() const { return kind != KEEP; }
};

#endif
