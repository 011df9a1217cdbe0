// The configuration categories whose changes wait in the connection's
// pending configuration ("route", "ip", "email", "quota", "rate") and the
// test that applies them ("test"). Listings show the global configuration.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/Globals.h"
#include "dialogue/ConfigCommands.h"
#include "dialogue/Dispatcher.h"
#include "records/Config.h"

namespace {

const char* const kOk = "CONFIG_OK";
const char* const kError = "CONFIG_ERROR";

template <typename Record, typename Format>
std::vector<std::string> Lines(const std::vector<Record*>& records, Format format) {
    std::vector<std::string> lines;
    char line[512];
    for (const Record* record : records) {
        format(*record, line, sizeof(line));
        lines.push_back(line);
    }
    return lines;
}

PendingConfig& Pending(ConfigRequest& r) {
    return r.session.pending;
}

void RouteGet(ConfigRequest& r) {
    ReplyListing(r,
                 Lines(config->routes,
                       [](const Route& x, char* out, size_t size) {
                           snprintf(out, size, "%s %s %s", x.address, x.mask, x.gateway);
                       }),
                 "CONFIG_UNKNOWN_ROUTE");
}

void RouteAdd(ConfigRequest& r) {
    std::vector<std::string> w = r.Words();
    if (w.size() < 3) return r.Reply(kError);
    Pending(r).AddRoute(w[0].c_str(), w[1].c_str(), w[2].c_str());
    r.Reply(kOk);
}

void RouteDelete(ConfigRequest& r) {
    Pending(r).RemoveRoutes();
    r.Reply(kOk);
}

void IpGet(ConfigRequest& r) {
    char line[96];
    snprintf(line, sizeof(line), "%s %s %s %s", config->network[0], config->network[1], config->network[2],
             config->network[3]);
    r.Reply(line);
}

void IpModify(ConfigRequest& r) {
    std::vector<std::string> w = r.Words();
    if (w.empty()) return r.Reply(kError);
    // Missing words leave their address as it is.
    const char* a[4] = {nullptr, nullptr, nullptr, nullptr};
    for (size_t i = 0; i < 4 && i < w.size(); i++) a[i] = w[i].c_str();
    Pending(r).SetIP(a[0], a[1], a[2], a[3]);
    r.Reply(kOk);
}

void EmailGet(ConfigRequest& r) {
    ReplyListing(r,
                 Lines(config->emails,
                       [](const Email& x, char* out, size_t size) {
                           snprintf(out, size, "%s %s %i %i %s", x.address, x.kind, x.flag_1, x.flag_2,
                                    x.locale);
                       }),
                 "CONFIG_UNKNOWN_EMAIL");
}

void EmailAdd(ConfigRequest& r) {
    std::vector<std::string> w = r.Words();
    if (w.size() < 4) return r.Reply(kError);
    Pending(r).AddEmail(w[0].c_str(), w[1].c_str(), atoi(w[2].c_str()), atoi(w[3].c_str()),
                        w.size() > 4 ? w[4].c_str() : nullptr);
    r.Reply(kOk);
}

void EmailDelete(ConfigRequest& r) {
    Pending(r).RemoveEmails();
    r.Reply(kOk);
}

void EmailTest(ConfigRequest& r) {
    r.Reply(config->EMail(r.values.c_str()) == 0 ? kOk : kError);
}

void QuotaGet(ConfigRequest& r) {
    ReplyListing(r,
                 Lines(config->quotas,
                       [](const Quota& x, char* out, size_t size) {
                           snprintf(out, size, "%s %s %lli %i", x.name, x.unit, x.amount, x.flag);
                       }),
                 "CONFIG_UNKNOWN_QUOTA");
}

void QuotaAdd(ConfigRequest& r) {
    std::vector<std::string> w = r.Words();
    if (w.size() < 4) return r.Reply(kError);
    Pending(r).AddQuota(w[0].c_str(), w[1].c_str(), strtoll(w[2].c_str(), nullptr, 0), atoi(w[3].c_str()));
    r.Reply(kOk);
}

void QuotaDelete(ConfigRequest& r) {
    Pending(r).RemoveQuotas();
    r.Reply(kOk);
}

void RateGet(ConfigRequest& r) {
    r.Reply(config->rate);
}

void RateSet(ConfigRequest& r) {
    if (r.values.empty() || !IsStorableText(r.values)) return r.Reply(kError);
    Pending(r).SetRate(r.values.c_str());
    r.Reply(kOk);
}

const ConfigVerb kRouteVerbs[] = {{"get", RouteGet}, {"add", RouteAdd}, {"delete", RouteDelete}};
const ConfigVerb kIpVerbs[] = {{"get", IpGet}, {"modify", IpModify}};
const ConfigVerb kEmailVerbs[] = {
    {"get", EmailGet}, {"add", EmailAdd}, {"delete", EmailDelete}, {"test", EmailTest}};
const ConfigVerb kQuotaVerbs[] = {{"get", QuotaGet}, {"add", QuotaAdd}, {"delete", QuotaDelete}};
const ConfigVerb kRateVerbs[] = {{"get", RateGet}, {"set", RateSet}};

}  // namespace

void ConfigRoute(ConfigRequest& r) {
    DispatchVerb(r, kRouteVerbs);
}
void ConfigIp(ConfigRequest& r) {
    DispatchVerb(r, kIpVerbs);
}
void ConfigEmail(ConfigRequest& r) {
    DispatchVerb(r, kEmailVerbs);
}
void ConfigQuota(ConfigRequest& r) {
    DispatchVerb(r, kQuotaVerbs);
}
void ConfigRate(ConfigRequest& r) {
    DispatchVerb(r, kRateVerbs);
}

void ConfigTest(ConfigRequest& r) {
    if (!Pending(r).exists()) return r.Reply(kOk);
    switch (Pending(r).TestAndApply(r.session.network_changed)) {
        case 0:
            return r.Reply(kOk);
        case -1:
            return r.Reply("CONFIG_BAD_GATEWAY");
        case -2:
            return r.Reply("CONFIG_BAD_DNS");
        case -3:
            return r.Reply("CONFIG_BAD_FIREWALL");
        case -4:
            return r.Reply("CONFIG_BAD_EMAIL");
        case -5:
            return r.Reply("CONFIG_BAD_QUOTA");
        default:
            return;  // no other result exists
    }
}
