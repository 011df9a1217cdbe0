// The per-connection pending configuration: network settings, routes, rate,
// e-mail recipients and quotas that a server changes over one connection are
// collected in a private copy of the global configuration, and reach the
// global one only when the configuration test succeeds. A copy never tested
// is dropped with the connection.
//
// Threads: a PendingConfig belongs to the thread of its connection. Apply
// changes the global configuration (written under "mutex_config").
#pragma once

class Config;

// Answers whether the server at `address` (port `port`) greets as `name`
// within `seconds`. The connection layer installs it at start-up; without
// it no server answers.
using ServerProbe = bool (*)(const char* address, const char* name, int seconds, int port);
void SetServerProbe(ServerProbe probe);

class PendingConfig {
  public:
    PendingConfig() = default;
    ~PendingConfig();
    PendingConfig(const PendingConfig&) = delete;
    PendingConfig& operator=(const PendingConfig&) = delete;

    bool exists() const { return copy_ != nullptr; }
    // The copy, made from the global configuration on first need.
    Config* Get();

    // Routes and addresses mark the copy changed.
    void AddRoute(const char* address, const char* mask, const char* gateway);
    void RemoveRoutes();
    void SetIP(const char* a, const char* b, const char* c, const char* d);
    void SetRate(const char* rate);
    // The first recipient (or quota) added over a connection replaces the
    // copied list: the server sends its whole list each time.
    void AddEmail(const char* address, const char* kind, int flag_1, int flag_2, const char* locale);
    void RemoveEmails();
    void AddQuota(const char* name, const char* unit, long long amount, int flag);
    void RemoveQuotas();

    // Checks the copy (the global configuration's server must answer) and,
    // when the check passes, copies addresses, rate, e-mail text and routes
    // into the global configuration and writes it; `network_changed` is then
    // set. Returns 0, -2 (the server's name does not resolve), -3 (the server
    // does not answer), -4 or -5 (e-mails or quotas refused). The copy is
    // dropped either way. Without a copy: 0 and nothing happens.
    int TestAndApply(bool& network_changed);

    // Drops the copy unapplied.
    void Drop();

    int changed = 0;  // routes or addresses were changed (kept after a drop)

  private:
    Config* copy_ = nullptr;
    bool emails_started_ = false;
    bool quotas_started_ = false;
};
