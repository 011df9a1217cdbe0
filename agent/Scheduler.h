// The daemon's housekeeping loop, run in the main thread: while the agent
// has no name it announces itself on the local network; afterwards it
// publishes its activity status on every pass and identifies itself with
// its server at a fixed interval.
#pragma once

// The loop's intervals, read once from the environment (the start-up reads
// them first), each defaulting to the agent's deployment value:
// ZELAGENT_ANNOUNCE_SECONDS (30), ZELAGENT_IDENTIFY_SECONDS (3600) and
// ZELAGENT_IDENTIFY_RETRY_SECONDS (60). Tests shorten them; a value that
// is not a positive number is reported and the default kept.
struct SchedulerSettings {
    int announce_seconds;      // between two announcements, waited in 1-second steps
    double identify_seconds;   // between two identifications
    double retry_seconds;      // before retrying a failed identification
};
const SchedulerSettings& scheduler_settings();

// The state the main phase keeps between passes.
struct SchedulerClock {
    long last_identification;  // Clock() ticks of the last success (or of the start)
};

// Registers activity 0x8000, announces while the name is "anonymous", then
// runs a pass every 10 ms until the stop flag is set. Returns null.
void* ClientScheduler(void* unused);

// The announcement phase: "client" to `port` of the broadcast destination,
// then `steps` waits of one second, over again while the agent is
// anonymous and no stop is requested. Returns within a second of either.
void AnnounceWhileAnonymous(int port, int steps);

// One pass of the main phase: the status export, and the identification
// when its interval has passed (after a failure the next attempt comes
// retry_seconds later). No sleep.
void SchedulerPass(SchedulerClock& clock);
