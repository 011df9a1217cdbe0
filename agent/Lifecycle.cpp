#include "agent/Lifecycle.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "agent/CommandLine.h"
#include "agent/Scheduler.h"
#include "agent/SelfUpdate.h"
#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "dialogue/Connections.h"
#include "dialogue/Identification.h"
#include "dialogue/Listener.h"
#include "dialogue/RemoteSetup.h"
#include "foundation/Execute.h"
#include "foundation/Log.h"
#include "foundation/ProcessLayout.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Threads.h"
#include "records/ClientManagement.h"
#include "records/Config.h"
#include "records/PendingConfig.h"
#include "transport/Broadcast.h"
#include "transport/SocketError.h"

namespace {

// How long the teardown waits for the other threads: the listener notices
// the stop flag within a second; a connection leaves after its command.
const double kThreadsLeaveSeconds = 3;

void WritePidFile(int argc, char** argv) {
    bool daemon = argc == 1;
    bool listen_only = argc == 2 && strcmp(argv[1], "-l") == 0;
    bool listen_port = argc == 3 && strcmp(argv[1], "-l") == 0 && atoi(argv[2]) == config->local_port;
    if (!daemon && !listen_only && !listen_port) return;
    char path[420];
    snprintf(path, sizeof(path), "%spid", res->conf_dir);
    // Replaced whole: "--stop" never reads a half-written number.
    ReplacementFile file(path);
    FILE* f = file.Open() ? file.stream() : nullptr;
    if (!f) return;
    fprintf(f, "%i", (int)getpid());
    file.Commit(false);
}

// Removes the pid file when it still names this process.
void RemovePidFile() {
    char path[420];
    snprintf(path, sizeof(path), "%spid", res->conf_dir);
    FILE* f = fopen(path, "re");
    if (!f) return;
    int pid = 0;
    bool ours = fscanf(f, "%i", &pid) == 1 && pid == (int)getpid();
    fclose(f);
    if (ours) unlink(path);
}

void OnStopSignal(int) { request_stop_from_signal(); }
void OnHangup(int) { RequestLogReopen(); }

// A restart (2) or an update (3) handed to the service manager.
bool ServiceRestart(int kill) { return (kill == 2 || kill == 3) && res && res->argc == 1 && UnderServiceManager(); }

}  // namespace

bool UnderServiceManager() {
    const char* id = getenv("INVOCATION_ID");
    return id && *id;
}

void InitVariables(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    res = new Resource(argc, argv);
    res2 = new char[64];
    snprintf(res2, 64, "%%s %%s %%s %%u %%u %si\n", "%ll");
    this_version = new Version(version_major, version_month, version_day, version_minor);
    char text[48];
    this_version->GetVersion(text);
    snprintf(res->version_text, sizeof(res->version_text), "%s", text);
    mutex = new Mutex();
    // Foundation's helpers (logging, lock files, temporary names, plug-ins,
    // host lookups) learn the layout and their locks from here.
    SetProcessLocks(&mutex->locks);
    SetProcessFolders(&res->folders);
    // Adding a backup set asks the set's machine over the network.
    SetOperatingSystemProbe(AskOperatingSystem);
    // The configuration test asks whether the server answers.
    SetServerProbe(VerifyClientExists);
    thread_manager = new ThreadManager();
    config = new Config();
    int read = config->ReadConfig(nullptr);
    if (!read && argc == 1) config->WriteConfig();
    if (read && (argc == 1 || (argc > 1 && strcmp(argv[1], "-l") == 0))) {
        config->LoadEmails();
        config->LoadQuotas();
    }
    WritePidFile(argc, argv);
    // The environment's discovery and housekeeping settings are fixed now,
    // before any thread starts.
    broadcast_settings();
    scheduler_settings();
}

void DestroyVariables() {
    CloseFILE(file_message);
    CloseFILE(file_debug);
    CloseFILE(file_error);
    CloseFILE(file_event);
    delete thread_manager;
    thread_manager = nullptr;
    delete config;
    config = nullptr;
    SetProcessFolders(nullptr);
    delete res;
    res = nullptr;
    delete[] res2;
    res2 = nullptr;
    delete this_version;
    this_version = nullptr;
    // The mutexes are not destroyed: a detached thread may still be leaving.
    SetProcessLocks(nullptr);
    Mutex* m = mutex;
    mutex = nullptr;
    delete m;
}

int MainFunction() {
    // A daemon that cannot log would run blind: say why, and leave no pid
    // file naming a process that is gone.
    if (ClearLogFiles() != 0) {
        fprintf(stderr, "Cannot write the log folder %s: %s\n", res->logs_dir, strerror(errno));
        RemovePidFile();
        return 1;
    }
    if (thread_manager) thread_manager->SetState(0x1);
    try {
        InitDisplay();
        IdentifyWithServer(0, 0);
        StartThread(ListenToPort, nullptr);
        ClientScheduler(nullptr);
        // The listener notices the stop flag within a second; let it close
        // its socket before the globals it reads are torn down.
        for (int i = 0; i < 30 && listen_server; i++) Wait(0.1);
    } catch (SocketError& e) {
        ReleaseSocketError();
        PrintMessage("MainFunction: Socket Error not caught...pas bien: %s", e.message);
    }
    if (thread_manager) thread_manager->ResetState(0x1);
    return ServiceRestart(get_kill()) ? kExitServiceRestart : 0;
}

void InitDisplay() {
    PrintEvent("SYSTEM", "Lancement du logiciel Client");
    const char* stars = "   * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * *  ";
    PrintMessage("%s", stars);
    PrintMessage("  *                              Welcome to                         * ");
    PrintMessage(" *                        %s Client                   *", appname);
    PrintMessage(" *                                                                   *");
    PrintMessage("%s", stars);
    PrintOptions();
    PrintMessage("Version %s for %s", res->version_text, res->system_name);
    PrintMessage("My name is %s", config->name);
    PrintMessage("APPDIR: %s", res->app_dir);
    PrintMessage("Conf Directory is: %s", res->conf_dir);
    PrintMessage("Debugging file is: %s", res->debug_file);
    PrintMessage("Error file is: %s", res->errors_file);
    PrintMessage("Open for input? %i", res->open_for_input);
    char* uptime = GetUptime();
    if (uptime) {
        if (uptime[0]) PrintMessage("Uptime: %s", uptime);
        delete[] uptime;
    }
    PrintMessage(" ");
}

std::string FollowUpCommand(int kill) {
    if (!res) return "";
    // Quoted whole: a path may hold blanks or shell characters, and is never
    // cut to a fixed length.
    if (kill == 2) return ShellQuote(res->program_path) + " &";
    if (kill == 3)
        return ShellQuote(res->update_program) + " --update " + ShellQuote(res->program_path) + " " +
               ShellQuote(res->update_program) + " &";
    return "";
}

void KillApplication() {
    if (!res) return;
    if (res->argc == 1) PrintEvent("SYSTEM", "Arret du logiciel");
    int kill = get_kill();
    std::string command;
    if (!ServiceRestart(kill))
        command = FollowUpCommand(kill);
    else if (kill == 3)
        CopyUpdate(res->program_path, res->update_program);
    // A connection or a command worker may still be running: the globals are
    // freed only once every thread has left, and otherwise left to the
    // process's end (a connection idle in a read ends with the process).
    if (WaitForThreads(kThreadsLeaveSeconds)) DestroyVariables();
    if (!command.empty()) Execute(command.c_str(), nullptr, 1);
}

void InstallSignalHandlers(bool hangup_reopens_logs) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (!hangup_reopens_logs) return;
    // A log rotation may come at any time: calls it interrupts restart.
    action.sa_handler = OnHangup;
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
}
