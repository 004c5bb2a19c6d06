#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "attribute.h"
#include "elog.h"
#include "exit_status.h"
#include "gl_param.h"
#include "publication.h"
#include "shard.h"
#include "worker_pool.h"

int main(int argc, char **argv)
{
    auto *app = new QCoreApplication(argc, argv);
    elog.debug(3, "CALLED: main()\n");
    GL_param.parse_options(argc, argv);
    const int rc = GL_param.read_configuration_file();
    if (rc != 0) {
        elog.log("ERROR: error in configuration file\n");
        delete app;
        return rc;
    }
    GL_param.dump();
    if (GL_param.debug_level != 0)
        ATTRIBUTE().dump(GL_param.description_root, 0); // the node called on plays no part

    QDir dir(QString(""));
    dir.setFilter(QDir::Files);
    dir.setPath(GL_param.input_path);
    if (!dir.exists()) {
        elog.log("ERROR: input path " + GL_param.input_path + " does not exist\n");
        exit(exit_status::FAILED);
    }
    const int locked = lock_shard();
    if (locked != 0)
        exit(locked);
    // Before the listing: an input whose conversion a killed process had finished goes now.
    recover_leftovers();
    signal(SIGCHLD, sigchld_handler);
    GL_param.processes_running = 0;
    for (const QString &name : dir.entryList())
        if (in_own_shard(name))
            GL_param.input_files << name;
    elog.log(QString("INFO: strandor will execute %1 processes parallel\n").arg(GL_param.parallel_processes));

    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    fork_new_process();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    // Nothing else may run here: the handler does all pool work between these sleeps.
    for (;;)
        sleep(1000);
}
