#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "attribute.h"
#include "elog.h"
#include "exit_status.h"
#include "gl_param.h"
#include "publication.h"
#include "run_metrics.h"
#include "shard.h"
#include "worker_pool.h"

/// The files of this run's shard, each with its size; files still young may still be
/// being delivered, and are left for the next run.
static void list_input_files(const QDir &dir)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 min_age = qint64(GL_param.min_age) * 1000;
    for (const QFileInfo &file : dir.entryInfoList()) {
        const QString name = file.fileName();
        if (!in_own_shard(name))
            continue;
        if (min_age != 0 && now - file.lastModified().toMSecsSinceEpoch() < min_age) {
            elog.debug(1, QString("INFO: %1 is younger than %2 s - left for the next run\n").arg(name).arg(GL_param.min_age));
            GL_param.files_left += 1;
            continue;
        }
        GL_param.input_files << name;
        GL_param.input_sizes << file.size();
    }
}

int main(int argc, char **argv)
{
    start_run_clock();
    auto *app = new QCoreApplication(argc, argv);
    elog.debug(3, "CALLED: main()\n");
    GL_param.parse_options(argc, argv);
    install_terminate_handler();
    const int rc = GL_param.read_configuration_file();
    if (rc != 0) {
        elog.log("ERROR: error in configuration file\n");
        delete app;
        end_run(rc);
    }
    GL_param.dump();
    if (GL_param.debug_level != 0)
        ATTRIBUTE().dump(GL_param.description_root, 0); // the node called on plays no part

    QDir dir(QString(""));
    dir.setFilter(QDir::Files);
    dir.setPath(GL_param.input_path);
    if (!dir.exists()) {
        elog.log("ERROR: input path " + GL_param.input_path + " does not exist\n");
        end_run(exit_status::FAILED);
    }
    const int locked = lock_shard();
    if (locked != 0)
        end_run(locked);
    // Before the listing: an input whose conversion a killed process had finished goes now.
    recover_leftovers();
    signal(SIGCHLD, sigchld_handler);
    GL_param.processes_running = 0;
    list_input_files(dir);
    elog.log(QString("INFO: strandor will execute %1 processes parallel\n").arg(GL_param.parallel_processes));

    set_pool_signals_blocked(true);
    fork_new_process();
    set_pool_signals_blocked(false);
    // Nothing else may run here: the handler does all pool work between these sleeps.
    for (;;)
        sleep(1000);
}
