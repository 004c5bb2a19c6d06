#ifndef STRANDOR_PARAMS_GL_PARAM_H
#define STRANDOR_PARAMS_GL_PARAM_H

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

class ATTRIBUTE;

/// How records are written: TEXT as the values stand, TSV escaped, CSV quoted.
enum class OUTPUT_FORMAT { TEXT, TSV, CSV };

/// Run parameters of the whole program: paths, settings, description tree, worker pool.
class GL_PARAM {
public:
    GL_PARAM();
    ~GL_PARAM();

    int parse_options(int argc, char **argv);
    /// Parses configuration_file into description_root and the settings; 0 or the exit
    /// status. Defined with the parser, in the configuration library.
    int read_configuration_file();
    void dump();

    int debug_level;
    int mypid;
    QString output_path;
    QString input_path;
    QDateTime file_time;
    QString configuration_file;
    QString version;
    ATTRIBUTE *description_root;
    ATTRIBUTE *current_inputfile;
    int line_number;
    int parallel_processes;
    int processes_started;
    int processes_running;
    int processes_succeeded;
    int processes_failed;
    QStringList input_files;
    /// The sizes of input_files when they were listed.
    QVector<qint64> input_sizes;
    int last_file_index;
    QString file_mask;
    QString time_format;
    QString column_separator;
    int max_header_size;
    /// ABSENT_VALUES EMPTY: a column is emptied where an element of its path, or of its
    /// path less the last step, starts, so that it holds only what its record's elements say.
    bool empty_absent_values;
    OUTPUT_FORMAT output_format;
    /// COLUMN_SEPARATOR was given: CSV keeps it instead of its comma.
    bool separator_given;
    /// EMPTY_OUTPUTS SKIP: a measurement that wrote no record for a file publishes no output.
    bool skip_empty_outputs;
    /// Of ".gz" outputs.
    int compression_level;
    /// Records go into this PostgreSQL database instead of files (-D); empty for files.
    QString database;
    /// Missing tables are created first (-C).
    bool create_tables;
    /// The input directory's subdirectories are read too (-r).
    bool recursive;
    /// This run converts the files whose shard is shard_index out of shard_count.
    quint32 shard_index;
    quint32 shard_count;
    /// Files modified less than this many seconds ago are left for the next run (-a).
    quint32 min_age;
    /// Where the run's metrics go when it ends (-m); empty for none.
    QString metrics_file;
    /// Counted for the metrics: workers that ended with status 22, files left for the next
    /// run, and the bytes of the files handed to workers.
    int files_no_description;
    int files_left;
    /// Folders of the input tree that could not be read: their files wait, and the run fails.
    int folders_unread = 0;
    qint64 input_bytes;
    /// Failed inputs are moved here when their worker has ended (-e); empty to keep them.
    QString quarantine_path;
    /// Converted inputs are moved here instead of being removed (-k); empty to remove them.
    QString archive_path;
    int files_quarantined;
    /// Show what a run would do, and do nothing (-n).
    bool dry_run;
    /// A file that gives no record fails, instead of a warning (-z).
    bool fail_empty;

private:
    void check_keep_directories();
    bool output_settings_sound();
};

extern GL_PARAM GL_param;

/// The four-line version banner, as written to standard output and into the parameter dump.
extern const char *const VERSION_BANNER[4];

#endif
