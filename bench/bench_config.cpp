// Round trips per second of the configuration queries a server polls
// ("config client getv2 all", "config name get") beside "echo" on the same
// connection. The agent serves in this process; a forked child connects as
// a remote server would: from 127.0.0.2, through the challenge, encrypted.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "agent/Lifecycle.h"
#include "core/Globals.h"
#include "dialogue/Listener.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

const int kRounds = kFigureRuns;

// Seconds for `count` calls of `command`.
double Time(Sock& sock, const char* command, int count) {
    double start = Now();
    for (int i = 0; i < count; i++) {
        sock.Write(command);
        sock.Read();
    }
    return Now() - start;
}

int PollAsServer(int port, FILE* out) {
    snprintf(config->name, sizeof(config->name), "bench-server");
    Sock sock(AF_INET, SOCK_STREAM, 0);
    sock.SetTimeout(30);
    bool ok = false;
    for (int attempt = 0; attempt < 50 && !ok; attempt++) {
        Sock probe(AF_INET, SOCK_STREAM, 0);
        ok = probe.ConnectLite("127.0.0.2", port);
        if (!ok) Wait(0.1);
    }
    if (!ok || !sock.Bind(0, "127.0.0.2") || !sock.Connect("127.0.0.2", port) || !sock.Identify() ||
        !sock.aes) {
        fprintf(out, "could not connect through the challenge\n");
        return 1;
    }
    const char* commands[] = {"echo x", "config client getv2 all", "config name get"};
    const int kCallsPerRound = QuickRun() ? 100 : 300;
    std::vector<double> rates[3];
    // Interleaved rounds, so that a noisy moment weighs on all three alike;
    // the median round stands for each.
    for (int round = 0; round < kRounds; round++)
        for (int c = 0; c < 3; c++)
            rates[c].push_back(kCallsPerRound / Time(sock, commands[c], kCallsPerRound));
    sock.CloseConnection();
    double median[3];
    for (int c = 0; c < 3; c++) {
        std::sort(rates[c].begin(), rates[c].end());
        median[c] = rates[c][kRounds / 2];
    }
    fprintf(out, "%-26s %8.0f round trips/s (reference, median of %d rounds of %d)\n", "\"echo x\"",
            median[0], kRounds, kCallsPerRound);
    for (int c = 1; c < 3; c++) {
        std::string quoted = std::string("\"") + commands[c] + "\"";
        fprintf(out, "%-26s %8.0f round trips/s (%.2f of echo)\n", quoted.c_str(), median[c],
                median[c] / median[0]);
    }
    Figure("config_getv2_vs_echo", rates[1], "calls/s", rates[0], out);
    Figure("config_name_vs_echo", rates[2], "calls/s", rates[0], out);
    return 0;
}

}  // namespace

int main() {
    FILE* out = fdopen(dup(1), "w");
    char tmpl[] = "/tmp/zelbench.XXXXXX";
    std::string home = mkdtemp(tmpl);
    std::string program = home + "/zelagent";
    char* argv[] = {&program[0], const_cast<char*>("--bench"), nullptr};
    // The agent's log lines (one per command) would drown the figures.
    if (!out || !freopen("/dev/null", "w", stdout)) return 1;
    InitVariables(2, argv);
    snprintf(config->name, sizeof(config->name), "bench-agent");
    int port = FreePort();
    config->local_port = port;
    fflush(out);
    pid_t pid = fork();  // before any thread exists
    if (pid == 0) {
        int rc = PollAsServer(port, out);
        fflush(out);
        _exit(rc);
    }
    StartThread(ListenToPort, nullptr);
    int status = 0;
    waitpid(pid, &status, 0);
    set_kill(1);
    Wait(1.5);
    std::string rm = "rm -rf " + home;
    if (system(rm.c_str()) != 0) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
