// Every setting of the agent and the backup sets of this machine, read from
// and written to the configuration file "conf/config".
//
// Thread-safety: WriteConfig locks "mutex_config". The list of backup sets
// (`clients`) is replaced by the hourly identification while connections
// read it, so every reader and writer of a shared Config's list holds a
// ClientsLock ("mutex_clients") while it walks the list or uses a record
// from it. Lock order: "mutex_config" before "mutex_clients"; never write
// the configuration while holding a ClientsLock. The other fields are read
// without a lock; the configuration commands change a private copy and
// apply it in one step.
#pragma once

#include <atomic>
#include <vector>

#include "records/Client.h"
#include "records/ConfigLists.h"

extern std::atomic<int> config_count;

// Holds "mutex_clients" for a scope (nothing before the process mutexes
// exist). Not recursive: take it once per thread.
class ClientsLock {
public:
    ClientsLock();
    ~ClientsLock();
    ClientsLock(const ClientsLock&) = delete;
    ClientsLock& operator=(const ClientsLock&) = delete;
};

class Config {
public:
    Config();
    // Deep copy: every text, list and record is duplicated.
    explicit Config(const Config* other);
    ~Config();

    // Reads `path` (null: the agent's configuration file). 0 when the file
    // is missing or unreadable, 1 after reading it. Always ends with the
    // user switch for `user`.
    int ReadConfig(const char* path = nullptr);
    // Rewrites the whole file in its fixed order; 1, or 0 when it cannot be
    // written (the previous file then stays as it was).
    int WriteConfig();
    // Interprets one "key=value" line (comment, empty and unknown lines
    // change nothing).
    void ReadLine(const char* line);

    void SetIP(const char* a, const char* b, const char* c, const char* d);
    void SetEmail(const char* text);
    int CopyNetwork(const Config* other);
    // Whether the global configuration's server can be reached: 0, -2 when
    // its name does not resolve (or no server is configured), -3 when it
    // does not answer (PendingConfig.cpp).
    int TestNetwork();

    int AddRoute(const char* a, const char* b, const char* c);
    int RemoveRoutes();
    int GetRouteCount() const { return (int)routes.size(); }
    Route* GetRouteAt(int i);
    Route* GetRoute(const char* a, const char* b, const char* c);

    int AddEmail(Email* email);
    int RemoveEmails();
    int GetEmailCount() const { return (int)emails.size(); }
    Email* GetEmailAt(int i);

    int AddQuota(Quota* quota);
    int RemoveQuotas();
    int GetQuotaCount() const { return (int)quotas.size(); }
    Quota* GetQuotaAt(int i);
    // A new copy of the first matching quota, freed by the caller; or null.
    Quota* GetQuota(const char* name, const char* unit);
    long long GetQuotaFreeSpace(const char* name);

    // Takes the ClientsLock itself.
    int GetClientCount() const;
    // The caller holds a ClientsLock while it uses the record.
    Client* GetClientAt(int i);
    // Puts `sets` in place of the list in one step under the ClientsLock and
    // frees the records it replaced (after the lock is released, so nobody
    // can still be reading them). `sets` is left empty.
    void ReplaceClients(std::vector<Client*>& sets);
    int GetClients(std::vector<Client*>* list, const char* filter);
    int GetBoxCount() const { return GetClientCount(); }

    // The agent keeps no registry of sets by identifier, name or address:
    // these lookups find nothing and the registrations are refused.
    Client* GetClientFromName(const char*) { return nullptr; }
    Client* GetClientFromId(const char*, int) { return nullptr; }
    Client* GetClientFromIP(const char*) { return nullptr; }
    Client* GetNullClientFromIP(const char*) { return nullptr; }
    Client* GetClient(const char*, const char*) { return nullptr; }
    int GetJdsCount(const char*) { return 0; }
    Client* AddClient(Client* client);
    int RemoveClient(Client* client);
    int RemoveClient(const char* a, const char* b);
    int UpdateClient(Client* client) { return client ? 0 : -1; }
    void SetClientState(const char*, int, const char*) {}
    void ResetClientState(const char*, int) {}
    int UpdateClientStorage(Client*) { return 0; }
    int UpdateNetwork() { return 0; }
    int LoadEmails() { return 0; }
    int LoadQuotas() { return 0; }
    int SynchroniseEmails() { return 0; }
    int SynchroniseQuotas() { return 0; }
    // The mail hook: sends nothing in this agent.
    int EMail(const char*, unsigned = 0) { return 0; }
    Client* GetBoxAt(int) { return nullptr; }
    int UpdateBox(Client*) { return 0; }

    int UpdateLastConnection(const char* text);
    // Waits while connect threads run; logs around it every 18000 calls.
    void UpdateClients(unsigned count);

    char type[20];
    char name[50];
    char server_name[50];
    char server_address[50];
    char network[4][20];
    char ntpserver[50];
    char smtpserver[50];
    char user[20];
    char rate[26];
    char* email;
    int time[2];
    int crypt;
    int local_port;
    int server_port;
    int client_port;
    unsigned backup;
    std::vector<Client*> clients;  // guarded by ClientsLock
    std::vector<Route*> routes;
    std::vector<Email*> emails;
    std::vector<Quota*> quotas;
    char* list_template;
    int no_network;
    int silent;
    char url[52];
    int max_send_size;
    int no_patch;
    unsigned timeout;
    // Non-zero: a loopback peer is trusted only when its socket belongs to
    // root or to the agent's own user, and once the agent has its own key
    // files a peer without one is refused rather than served with
    // password-derived keys.
    int strict_auth;

private:
    void CopyFrom(const Config* other);
    void ParseClientLine(const char* value);
};

// Default deployment values for a fresh installation.
extern const char* const kDefaultNtpServer;
extern const char* const kDefaultUrl;
