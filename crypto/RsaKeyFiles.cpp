#include "crypto/RsaKeyFiles.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/Globals.h"
#include "crypto/AesKeys.h"
#include "crypto/AesVetrak.h"
#include "crypto/Rsa.h"
#include "foundation/AtomicFile.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "records/Client.h"
#include "records/Config.h"

const char* const kDefaultKeyPassPhrase = "3f9d2c7b84e10a65d5b2e8c14a7f0396";

namespace {

// Key lines hold at most a few hundred digits; anything bigger is not ours.
const long kMaxSetKeyFileSize = 64 * 1024;
// Buffers for one encrypted copy of a set's key.
const size_t kKeyLineSize = 2555;

// A pass phrase shorter than a whole key would make the cipher read past it.
bool UsablePassPhrase(const char* aesKey) {
    return aesKey && strnlen(aesKey, 32) == 32;
}

bool AllHex(const std::string& text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

void Crypt(std::string& text, const char* aesKey, bool encrypt) {
    aes_cipher_vetrak cipher(aesKey);
    if (encrypt)
        cipher.encrypt(&text[0], (int)text.size());
    else
        cipher.decrypt(&text[0], (int)text.size());
}

int IncorrectFormat(const char* path, FILE* f) {
    fclose(f);
    PrintError("ReadKey(%s): incorrect file format", path);
    return 0;
}

// Names from records and the wire become path components.
bool SafeComponent(const char* text) {
    return text && *text && !strchr(text, '/') && strcmp(text, ".") != 0 && strcmp(text, "..") != 0;
}

// Whole small file into `out`; false when missing, unreadable or too big.
bool ReadSmallFile(const char* path, std::string& out) {
    FILE* f = fopen(path, "rb");
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

// Lines split at "\n"; a final newline does not open another line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
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

int WriteKey(const char* path, RSAKey* key, const char* aesKey) {
    if (!path || !key) return 0;
    PrintMessage("Writing key to %s...", path);
    if (aesKey && !UsablePassPhrase(aesKey)) {
        PrintError("WriteKey(%s): pass phrase is not a key", path);
        return 0;
    }
    AtomicFile file(path);
    FILE* f = file.stream();
    if (!f) return 0;
    if (aesKey) fchmod(fileno(f), 0600);
    std::string modulo = key->ModuloText();
    std::string exponent = key->ExponentText();
    unsigned m = (unsigned)modulo.size(), e = (unsigned)exponent.size();
    if (aesKey) {
        Crypt(modulo, aesKey, true);
        Crypt(exponent, aesKey, true);
    }
    fprintf(f, "%u %u\n", m, e);
    fwrite(modulo.data(), 1, m, f);
    fwrite(exponent.data(), 1, e, f);
    if (!file.Commit()) {
        PrintError("WriteKey(%s): could not write the file", path);
        return 0;
    }
    return 1;
}

int ReadKey(const char* path, RSAKey* key, const char* aesKey) {
    if (!path || !key) return 0;
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    unsigned m = 0, e = 0;
    if (fscanf(f, "%u %u", &m, &e) != 2 || fgetc(f) != '\n') return IncorrectFormat(path, f);
    // Lengths come from the file: check them before they size anything.
    if (m == 0 || e == 0 || m > kMaxKeyTextLength || e > kMaxKeyTextLength) return IncorrectFormat(path, f);
    std::string modulo(m, '\0'), exponent(e, '\0');
    if (fread(&modulo[0], 1, m, f) != m || fread(&exponent[0], 1, e, f) != e) return IncorrectFormat(path, f);
    fclose(f);
    if (aesKey) {
        if (!UsablePassPhrase(aesKey)) {
            PrintError("ReadKey (%s): BAD KEY: %s", path, aesKey);
            return 0;
        }
        Crypt(modulo, aesKey, false);
        Crypt(exponent, aesKey, false);
        if (!AllHex(modulo) || !AllHex(exponent)) {
            PrintError("ReadKey (%s): BAD KEY: %s", path, aesKey);
            return 0;
        }
    } else if (!AllHex(modulo) || !AllHex(exponent)) {
        PrintError("ReadKey(%s): incorrect file format", path);
        return 0;
    }
    key->SetModulo(modulo.c_str());
    key->SetExponent(exponent.c_str());
    return 1;
}

int WritePrivKey(RSAKey* key, const char* name, const char* passPhrase) {
    char path[400];
    int result = 0;
    if (GetKeyPathFromName(path, sizeof(path), name, "priv"))
        result = WriteKey(path, key, passPhrase ? passPhrase : kDefaultKeyPassPhrase);
    PrintMessage("~WritePrivKey");
    return result;
}

int WritePubKey(RSAKey* key, const char* name) {
    char path[400];
    if (!GetKeyPathFromName(path, sizeof(path), name, "pub")) return 0;
    return WriteKey(path, key, nullptr);
}

int ReadPrivKey(RSAKey* key, const char* name, const char* passPhrase) {
    char path[400];
    bool named = GetKeyPathFromName(path, sizeof(path), name, "priv");
    if (!named || !VerifyFileExists(path)) {
        if (name)
            PrintError("ReadPrivKey(%s): File %s doesn't exist...", name, path);
        else
            PrintError("ReadPrivKey(NULL): File %s doesn't exist...", path);
        return 0;
    }
    return ReadKey(path, key, passPhrase ? passPhrase : kDefaultKeyPassPhrase);
}

int ReadPubKey(RSAKey* key, const char* name) {
    char path[400];
    if (!GetKeyPathFromName(path, sizeof(path), name, "pub")) return 0;
    return ReadKey(path, key, nullptr);
}

int WritePrivateKey(const char* aesKey, Client* client) {
    PrintMessage("WritePrivateKey");
    if (!aesKey || !client || !SafeComponent(client->base_id)) return 0;
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
    AtomicFile file(path);
    FILE* f = file.stream();
    if (!f) return 0;
    fchmod(fileno(f), 0600);
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
    if (!SafeComponent(client->base_id) || (!ownBox && !SafeComponent(client->box_name))) return 0;
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
            std::vector<std::string> lines = SplitLines(clear);
            if (!lines.empty() && IsValidAesKey(lines[0].c_str(), 1)) {
                PrintMessage("Found clear key");
                if (!CopyOut(out, size, lines[0])) return 0;
                RSAKey admin;
                ReadPubKey(&admin, "zelgui_admin");
                RSACrypt(out, size, &admin);
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
    std::vector<std::string> lines = SplitLines(text);
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
