#include "records/PendingConfig.h"

#include <arpa/inet.h>
#include <string.h>

#include <atomic>

#include "core/Globals.h"
#include "foundation/HostLookup.h"
#include "foundation/Log.h"
#include "foundation/Text.h"
#include "records/Config.h"

namespace {

std::atomic<ServerProbe> server_probe{nullptr};

}  // namespace

void SetServerProbe(ServerProbe probe) {
    server_probe.store(probe);
}

int Config::TestNetwork() {
    // Whatever copy it is called on, the server tested is the global one.
    const Config* c = ::config;
    if (!c) return -2;
    const char* address = c->server_address;
    // No server configured: there is nothing to look up, and the word
    // "null" must not go to the name service.
    if (!address[0] || strcmp(address, "null") == 0 || strcmp(c->server_name, "null") == 0) return -2;
    in_addr resolved;
    // A dotted quad is read as it stands, never sent to the name service.
    if (inet_pton(AF_INET, address, &resolved) != 1 && GetHostByName(address, &resolved) != 0) return -2;
    ServerProbe probe = server_probe.load();
    return probe && probe(address, c->server_name, 10, c->server_port) ? 0 : -3;
}

PendingConfig::~PendingConfig() {
    Drop();
}

Config* PendingConfig::Get() {
    if (!copy_ && config) copy_ = new Config(config);
    return copy_;
}

void PendingConfig::AddRoute(const char* address, const char* mask, const char* gateway) {
    Config* c = Get();
    if (!c) return;
    // Appended without writing the file: the copy would write its own
    // (possibly older) view of every other setting, and routes are not
    // written anyway.
    c->routes.push_back(new Route(address, mask, gateway));
    changed = 1;
}

void PendingConfig::RemoveRoutes() {
    if (Config* c = Get()) c->RemoveRoutes();
    changed = 1;
}

void PendingConfig::SetIP(const char* a, const char* b, const char* c, const char* d) {
    if (Config* copy = Get()) copy->SetIP(a, b, c, d);
    changed = 1;
}

void PendingConfig::SetRate(const char* rate) {
    if (Config* c = Get()) CopyText(c->rate, rate);
}

void PendingConfig::AddEmail(const char* address, const char* kind, int flag_1, int flag_2,
                             const char* locale) {
    Config* c = Get();
    if (!c) return;
    if (!emails_started_) c->RemoveEmails();
    emails_started_ = true;
    c->AddEmail(new Email(config->name, address, kind, flag_1, flag_2, locale));
}

void PendingConfig::RemoveEmails() {
    if (Config* c = Get()) c->RemoveEmails();
}

void PendingConfig::AddQuota(const char* name, const char* unit, long long amount, int flag) {
    Config* c = Get();
    if (!c) return;
    if (!quotas_started_) c->RemoveQuotas();
    quotas_started_ = true;
    c->AddQuota(new Quota(config->name, name, unit, amount, flag));
}

void PendingConfig::RemoveQuotas() {
    if (Config* c = Get()) c->RemoveQuotas();
}

int PendingConfig::TestAndApply(bool& network_changed) {
    if (!copy_ || !config) return 0;
    if (changed) copy_->UpdateNetwork();
    int r = copy_->TestNetwork();
    PrintMessage("TestNetwork == %i", r);
    if (r == 0 && copy_->SynchroniseEmails() != 0) r = -4;
    if (r == 0 && copy_->SynchroniseQuotas() != 0) r = -5;
    if (changed) config->UpdateNetwork();
    if (r == 0) {
        config->CopyNetwork(copy_);
        config->WriteConfig();
        network_changed = true;
    }
    Drop();
    return r;
}

void PendingConfig::Drop() {
    delete copy_;
    copy_ = nullptr;
    emails_started_ = quotas_started_ = false;
}
