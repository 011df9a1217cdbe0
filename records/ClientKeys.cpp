#include "records/ClientKeys.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/Globals.h"
#include "crypto/AesVetrak.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Text.h"
#include "records/Client.h"
#include "records/Config.h"

namespace {

// Key lines hold at most a few hundred digits; anything bigger is not ours.
const long kMaxSetKeyFileSize = 64 * 1024;
// Buffers for one encrypted copy of a set's key.
const size_t kKeyLineSize = 2555;

// Whole small file into `out`; false when missing, unreadable or too big.
bool ReadSmallFile(const char* path, std::string& out) {
    FILE* f = fopen(path, "rbe");
    if (!f) return false;
    out.clear();
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) {
        out.append(chunk, n);
        if ((long)out.size() > kMaxSetKeyFileSize) {
            fclose(f);
            return false;
        }
    }
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool CopyOut(char* out, size_t size, const std::string& text) {
    if (!out || text.size() + 1 > size) return false;
    memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

// The set's AES key encrypted for `name`'s public key, or in clear when
// that key is missing.
std::string EncryptFor(const char* aesKey, const char* name, bool* found = nullptr) {
    char line[kKeyLineSize];
    snprintf(line, sizeof(line), "%s", aesKey);
    RSAKey key;
    bool have = ReadPubKey(&key, name) == 1;
    if (found) *found = have;
    if (have || !found) RSACrypt(line, sizeof(line), &key);
    return line;
}

}  // namespace

int WritePrivateKey(const char* aesKey, Client* client) {
    PrintMessage("WritePrivateKey");
    if (!aesKey || !client || !IsSafePathComponent(client->base_id)) return 0;
    char idName[64];
    snprintf(idName, sizeof(idName), "zelgui_%s", client->id);
    std::string forName = EncryptFor(aesKey, client->name);
    std::string forId = EncryptFor(aesKey, idName);
    std::string forAdmin = EncryptFor(aesKey, "zelgui_admin");
    char boxName[64];
    snprintf(boxName, sizeof(boxName), "zelgui_%s", config ? config->server_name : "");
    bool boxKey = false;
    std::string forBox = EncryptFor(aesKey, boxName, &boxKey);
    if (boxKey) PrintMessage("Box2Box Admin key found");

    char path[420];
    snprintf(path, sizeof(path), "%s%s%ckey", res ? res->conf_dir : "", client->base_id,
             res ? res->separator : '/');
    PrintMessage("Writing private key to %s", path);
    ReplacementFile file(path);
    FILE* f = file.Open(0600) ? file.stream() : nullptr;
    if (!f) return 0;
    fchmod(file.fd(), 0600);  // the set's key stays the owner's, whatever the old file allowed
    if (boxKey)
        fprintf(f, "%s\n%s\n%s\n%s", forName.c_str(), forId.c_str(), forAdmin.c_str(), forBox.c_str());
    else
        fprintf(f, "%s\n%s\n%s", forName.c_str(), forId.c_str(), forAdmin.c_str());
    return file.Commit() ? 1 : 0;
}

int ReadPrivateKey(char* out, size_t size, Client* client, const char* forName) {
    if (!out || size == 0 || !client) return 0;
    if (!forName) forName = "";
    const char* ownName = config ? config->name : "";
    bool ownBox = strcmp(client->box_name, ownName) == 0;
    if (!IsSafePathComponent(client->base_id) || (!ownBox && !IsSafePathComponent(client->box_name)))
        return 0;
    char path[840];
    if (ownBox) {
        snprintf(path, sizeof(path), "%s%s%ckey", res ? res->conf_dir : "", client->base_id,
                 res ? res->separator : '/');
    } else {
        PrintMessage("ReadPrivateKey from some other zelbox (%s)", client->box_name);
        const char* data = res ? res->data_dir : "";
        snprintf(path, sizeof(path), "%s/%s/conf/%s/AES", data, client->box_name, client->base_id);
        std::string clear;
        if (VerifyFileExists(path) && ReadSmallFile(path, clear)) {
            std::vector<std::string> lines = SplitRawLines(clear);
            if (!lines.empty() && IsValidAesKey(lines[0].c_str(), 1)) {
                PrintMessage("Found clear key");
                if (!CopyOut(out, size, lines[0])) return 0;
                RSAKey admin;
                ReadPubKey(&admin, "zelgui_admin");
                // Without the administrator's key (or with one the RSA step
                // refuses) the key would leave in clear: nothing is handed out.
                if (!RSACrypt(out, size, &admin)) {
                    memset(out, 0, size);
                    return 0;
                }
                return 1;
            }
        }
        snprintf(path, sizeof(path), "%s/%s/conf/%s/key", data, client->box_name, client->base_id);
    }
    PrintMessage("Reading keys from %s FOR %s", path, forName);
    std::string text;
    if (!ReadSmallFile(path, text)) {
        PrintError("ReadPrivateKey(): %s not found", path);
        return 0;
    }
    std::vector<std::string> lines = SplitRawLines(text);
    if (lines.size() < 3) return 0;
    size_t index;
    if (strcmp(forName, "zelgui_admin") == 0)
        index = ownBox ? 2 : (lines.size() >= 4 ? 3 : 2);
    else if (strncmp(forName, "zelgui_", 7) == 0)
        index = 1;
    else
        index = 0;
    return CopyOut(out, size, lines[index]) ? 1 : 0;
}
