#include "records/ServerReset.h"

#include <stdio.h>
#include <unistd.h>

#include <string>

#include "core/Globals.h"
#include "crypto/AesKeys.h"
#include "foundation/FileOps.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"
#include "records/Config.h"

void RemoveResetFiles(const char* server_name) {
    if (!res) return;
    if (IsSafePathComponent(server_name)) {
        // Named without a final separator: a link standing there is removed,
        // never followed into what it points to.
        std::string folder = std::string(res->conf_dir) + server_name;
        if (VerifyFileExists(folder.c_str())) RemoveDir(folder.c_str());
    }
    char path[520];
    // No name: the agent's own pair, not the files of some named peer.
    if (GetKeyPathFromName(path, sizeof(path), nullptr, "pub")) unlink(path);
    if (GetKeyPathFromName(path, sizeof(path), nullptr, "priv")) unlink(path);
}

void ForgetServer() {
    if (!config) return;
    RemoveResetFiles(config->server_name);
    CopyText(config->name, "anonymous");
    CopyText(config->server_name, "null");
    CopyText(config->server_address, "null");
    config->time[0] = config->time[1] = 0;
    config->WriteConfig();
}
