#include "agent/Scheduler.h"

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "dialogue/Identification.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Broadcast.h"
#include "transport/Sock.h"

namespace {

const char* const kAnnouncement = "client";
const double kPassSeconds = 0.01;

double PositiveFromEnvironment(const char* variable, double fallback) {
    const char* text = getenv(variable);
    if (!text) return fallback;
    char* end = nullptr;
    double value = strtod(text, &end);
    if (end != text && !*end && value > 0) return value;
    PrintError("%s: not a positive number of seconds: %s", variable, text);
    return fallback;
}

SchedulerSettings ReadSettings() {
    SchedulerSettings s;
    s.announce_seconds = (int)PositiveFromEnvironment("ZELAGENT_ANNOUNCE_SECONDS", 30);
    if (s.announce_seconds < 1) s.announce_seconds = 1;
    s.identify_seconds = PositiveFromEnvironment("ZELAGENT_IDENTIFY_SECONDS", 3600);
    s.retry_seconds = PositiveFromEnvironment("ZELAGENT_IDENTIFY_RETRY_SECONDS", 60);
    return s;
}

// Under "mutex_config", which "config name set" holds while it replaces the
// name: this thread polls the name while connections may change it.
bool Anonymous() {
    if (!config) return false;
    if (mutex) mutex_lock(mutex->mutex_config, "Anonymous");
    bool anonymous = strcmp(config->name, "anonymous") == 0;
    if (mutex) mutex_unlock(mutex->mutex_config, "Anonymous");
    return anonymous;
}

Sock* NewBroadcastSock() {
    Sock* sock = new Sock(AF_INET, SOCK_DGRAM, 0);
    if (!sock->failed) sock->SetBroadcast(true);
    return sock;
}

// After SIGHUP the writers reopen their files by name; the fresh messages
// file starts with this line, so whoever rotated the logs sees it worked.
void NoteLogReopen() {
    if (TakeLogReopenNotice()) PrintMessage("Log files reopened");
}

}  // namespace

const SchedulerSettings& scheduler_settings() {
    static const SchedulerSettings settings = ReadSettings();
    return settings;
}

void AnnounceWhileAnonymous(int port, int steps) {
    if (get_kill() || !Anonymous()) return;
    Sock* sock = NewBroadcastSock();
    while (!get_kill() && Anonymous()) {
        try {
            sock->SendBroadcast(port, kAnnouncement, 0);
        } catch (SocketError&) {
            ReleaseSocketError();
            delete sock;
            sock = NewBroadcastSock();
        }
        // A name given meanwhile ends the phase at the next step rather
        // than after the whole interval.
        for (int i = 0; i < steps && !get_kill() && Anonymous(); i++) {
            NoteLogReopen();
            Wait(1);
        }
    }
    delete sock;
}

void SchedulerPass(SchedulerClock& clock) {
    if (thread_manager) thread_manager->Export();
    const SchedulerSettings& s = scheduler_settings();
    long rate = ClockTickRate();
    if ((double)(Clock() - clock.last_identification) / rate <= s.identify_seconds) return;
    bool identified = IdentifyWithServer(0, 0) == 0;
    long now = Clock();
    // A failure places the next attempt retry_seconds after this one, even
    // when the interval was missed by far (a long announcement phase, a slow
    // attempt): moving the old reading forward would retry on every pass.
    clock.last_identification = identified ? now : now - (long)((s.identify_seconds - s.retry_seconds) * rate);
}

void* ClientScheduler(void*) {
    if (thread_manager) thread_manager->SetState(kStateSchedulerClient);
    // The start-up identification has just run.
    SchedulerClock clock{Clock()};
    AnnounceWhileAnonymous(broadcast_settings().port, scheduler_settings().announce_seconds);
    while (!get_kill()) {
        NoteLogReopen();
        SchedulerPass(clock);
        Wait(kPassSeconds);
    }
    if (thread_manager) thread_manager->ResetState(kStateSchedulerClient);
    return nullptr;
}
