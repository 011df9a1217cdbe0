#include "foundation/TemporaryNames.h"

#include <stdio.h>
#include <string.h>

#include "foundation/ProcessLayout.h"
#include "foundation/Text.h"

namespace {

const size_t kNameSize = 400;

// Splits `object` at "|" in place; false when fewer than four components.
bool FourComponents(char* object, char* parts[4]) {
    char* save = nullptr;
    char* token = strtok_b(object, "|", &save);
    for (int i = 0; i < 4; i++) {
        if (!token) return false;
        parts[i] = token;
        if (i < 3) token = strtok_b(nullptr, "|", &save);
    }
    return true;
}

}  // namespace

char* GetTemporaryFilename(char* object, unsigned int number, bool& temporary, void*) {
    const ProcessFolders* folders = process_folders();
    if (!object || !folders) return nullptr;
    if (strcmp(object, "SYSTEM_STATE") == 0) {
        char* out = new char[kNameSize];
        snprintf(out, kNameSize, "%ssystem_%i.bkf", folders->data_dir, (int)number);
        temporary = true;
        return out;
    }
    if (startswith(object, "EXCHANGE|FULL")) {
        char* parts[4];
        if (!FourComponents(object, parts)) return nullptr;
        char* out = new char[kNameSize];
        snprintf(out, kNameSize, "%splugins\\exchange\\%s\\Exchange.bkf", folders->app_dir, parts[3]);
        temporary = true;
        return out;
    }
    if (startswith(object, "EXCHANGE|MAILBOX|")) {
        char* parts[4];
        if (!FourComponents(object, parts)) return nullptr;
        char* out = new char[kNameSize];
        snprintf(out, kNameSize, "%splugins\\exchange\\%s\\%s.PST", folders->app_dir, parts[3], parts[2]);
        temporary = true;
        return out;
    }
    if (startswith(object, "SHARE")) {
        // A bare "SHARE" has no seventh character: nothing follows.
        const char* rest = strlen(object) >= 6 ? object + 6 : "";
        char* out = new char[kNameSize];
        snprintf(out, kNameSize, "%sshare|%s", folders->app_dir, rest);
        return out;
    }
    return nullptr;
}
