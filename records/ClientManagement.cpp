#include "records/ClientManagement.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

#include "core/Globals.h"
#include "foundation/Log.h"
#include "foundation/Text.h"
#include "records/Client.h"
#include "records/Config.h"

namespace {

std::atomic<OperatingSystemProbe> os_probe{nullptr};

}  // namespace

void SetOperatingSystemProbe(OperatingSystemProbe probe) {
    os_probe.store(probe);
}

int AddClient(const char* ip, const char* name, const char* schedule, int setting_1, int crypt,
              const char* password, int setting_2, int setting_3, int setting_4) {
    if (!ip || !config) return -1;
    char os[12];
    if (strcmp(ip, "127.0.0.1") == 0) {
        CopyText(os, "Box");
    } else {
        // The probe logs its own connection failures.
        OperatingSystemProbe probe = os_probe.load();
        if (!probe || !probe(ip, config->client_port, os, sizeof(os))) return -1;
    }
    Client* c = new Client();
    CopyText(c->ip, ip);
    CopyText(c->name, name);
    CopyText(c->os, os);
    CopyText(c->schedule, schedule);
    c->setting_2 = setting_2;
    c->setting_1 = setting_1;
    c->setting_3 = setting_3;
    c->setting_4 = setting_4;
    c->crypt = crypt;
    CopyText(c->box_name, config->name);
    if (!config->AddClient(c)) {
        delete c;  // refused: nobody else holds it
        return -1;
    }
    return 0;
}

int ModifyClient(const char* id, const char* ip, const char* name, const char* schedule, int setting_1,
                 int crypt, int setting_2, int setting_3, int setting_4) {
    PrintMessage("ModifyClient...");
    // The registry keeps no sets: the lookup finds nothing to change.
    if (config && id) config->GetClientFromId(id, 0);
    return -1;
}

int DeleteClient(const char* id) {
    if (config && id) config->GetClientFromId(id, 0);
    return -1;
}
