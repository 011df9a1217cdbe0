#include "core/Resource.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Log.h"

const char* PlatformName() {
#if defined(__x86_64__) || defined(__i386__)
    return "SunOS-X86";
#else
    return "Unix";
#endif
}

namespace {

// Paths are 400-byte texts; formatting is always bounded.
template <typename... Args>
void Build(char (&out)[400], const char* fmt, Args... args) {
    snprintf(out, sizeof(out), fmt, args...);
}

}  // namespace

Resource::Resource(int argc_, char** argv) {
    memset(static_cast<void*>(this), 0, sizeof(*this));
    snprintf(system_name, sizeof(system_name), "%s", PlatformName());
    snprintf(default_version, sizeof(default_version), "0.0.0.0");
    separator = '/';
    argc = argc_;

    const char* arg0 = (argc_ > 0 && argv && argv[0]) ? argv[0] : "zelagent";
    if (arg0[0] == '/') {
        snprintf(program_path, sizeof(program_path), "%s", arg0);
    } else {
        char cwd[400] = "";
        if (!getcwd(cwd, sizeof(cwd))) cwd[0] = 0;
        char joined[820];
        snprintf(joined, sizeof(joined), "%s/%s", cwd, arg0);
        char canonical[PATH_MAX];
        if (realpath(joined, canonical))
            snprintf(program_path, sizeof(program_path), "%s", canonical);
        else
            snprintf(program_path, sizeof(program_path), "%s", joined);
    }
    struct stat st;
    if (lstat(program_path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char target[400];
        ssize_t n = readlink(program_path, target, sizeof(target) - 1);
        if (n > 0) {
            target[n] = 0;
            if (target[0] == '/') {
                snprintf(program_path, sizeof(program_path), "%s", target);
            } else {
                // A relative target is relative to the link's own folder.
                char joined[820];
                const char* slash = strrchr(program_path, '/');
                snprintf(joined, sizeof(joined), "%.*s%s", (int)(slash - program_path + 1), program_path, target);
                snprintf(program_path, sizeof(program_path), "%s", joined);
            }
        }
    }

    snprintf(app_dir, sizeof(app_dir), "%s", program_path);
    char* last = strrchr(app_dir, '/');
    if (last) last[1] = 0;
    if (chdir(app_dir) != 0) PrintScreen("chdir(%s) failed: %s\n", app_dir, strerror(errno));

    Build(restore_dir, "%srestaure%c", app_dir, separator);
    Build(lock_dir, "%slock%c", app_dir, separator);
    Build(conf_dir, "%sconf%c", app_dir, separator);
    Build(data_dir, "%sdata%c", app_dir, separator);
    Build(scripts_dir, "%sscripts%c", app_dir, separator);
    Build(logs_dir, "%slogs%c", conf_dir, separator);
    Build(plugins_dir, "%splugins%c", app_dir, separator);
    Build(update_program, "%sqln_update.exe", app_dir);

    // A command-line run logs into its own folder so it never touches the
    // daemon's files; --stats reads the daemon's status and keeps them.
    char run_dir[400];
    if (argc_ > 1 && !(argv[1] && strncmp(argv[1], "--stats", 7) == 0))
        Build(run_dir, "%scli_logs%c", conf_dir, separator);
    else
        snprintf(run_dir, sizeof(run_dir), "%s", logs_dir);
    const char* threads_base = (strcmp(run_dir, logs_dir) == 0) ? conf_dir : run_dir;
    Build(threads_file, "%sthreads", threads_base);
    Build(messages_file, "%smessages", run_dir);
    Build(errors_file, "%serrors", run_dir);
    Build(events_file, "%sevents.txt", run_dir);
    Build(debug_file, "%sdebug", run_dir);
    Build(config_file, "%sconfig", conf_dir);
    Build(versions_file, "%sversions", conf_dir);

    folders.app_dir = app_dir;
    folders.data_dir = data_dir;
    folders.logs_dir = logs_dir;
    folders.lock_dir = lock_dir;
    folders.plugins_dir = plugins_dir;
    folders.update_program = update_program;
    folders.messages_file = messages_file;
    folders.errors_file = errors_file;
    folders.events_file = events_file;
    folders.debug_file = debug_file;
    folders.separator = separator;
}
