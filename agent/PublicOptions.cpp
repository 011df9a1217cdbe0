// The agent's public command-line interface: version, save request, stop,
// help and compile options, the listener alone, the activity status and the
// self-update step.
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "agent/CommandLine.h"
#include "agent/Options.h"
#include "agent/SaveRequest.h"
#include "agent/SelfUpdate.h"
#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "dialogue/Connections.h"
#include "dialogue/Listener.h"
#include "foundation/Log.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

const size_t kStatsBytes = 102400;

}  // namespace

int OptionVersion(int, char**) {
    PrintScreen("%s\n", res->version_text);
    return kExitSuccess;
}

int OptionSave(int, char** argv) { return SaveThis(argv[2]); }

int OptionStop(int, char**) {
    std::unique_ptr<Sock> sock(OpenConnection("127.0.0.1", config->local_port, 1, false, 1, 0));
    if (!sock) return kExitFailure;
    sock->Write("terminate");
    return kExitSuccess;
}

int OptionCompileOptions(int, char**) {
    PrintOptions();
    return kExitSuccess;
}

int OptionHelp(int, char**) {
    PrintHelp();
    return kExitSuccess;
}

int OptionListen(int argc, char** argv) {
    if (argc < 3) {
        ListenToPort(nullptr);
        return kExitSuccess;
    }
    char* end = nullptr;
    long port = strtol(argv[2], &end, 10);
    if (end == argv[2] || *end || port <= 0 || port > 65535) {
        PrintHelp();
        return kExitSuccess;
    }
    int chosen = (int)port;
    ListenToPort(&chosen);
    return kExitSuccess;
}

int OptionStats(int argc, char** argv) {
    // A missing status file is an empty report: the daemon may not have
    // written one yet.
    ThreadManager status;
    status.Import(argc > 2 ? argv[2] : res->threads_file);
    std::vector<char> out(kStatsBytes, 0);
    status.Print(out.data(), out.size());
    PrintScreen("%s", out.data());
    return kExitSuccess;
}

int OptionUpdate(int, char** argv) { return RunSelfUpdate(argv[2], argv[3]) ? kExitSuccess : kExitFailure; }
