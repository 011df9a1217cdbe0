#include "crypto/RsaKeyFiles.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "crypto/AesKeys.h"
#include "crypto/AesVetrak.h"
#include "crypto/Rsa.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "foundation/base.h"

const char* const kDefaultKeyPassPhrase = "3f9d2c7b84e10a65d5b2e8c14a7f0396";

namespace {

// A pass phrase shorter than a whole key would make the cipher read past it.
bool UsablePassPhrase(const char* aesKey) {
    return aesKey && strnlen(aesKey, 32) == 32;
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

}  // namespace

int WriteKey(const char* path, RSAKey* key, const char* aesKey) {
    if (!path || !key) return 0;
    PrintMessage("Writing key to %s...", path);
    if (aesKey && !UsablePassPhrase(aesKey)) {
        PrintError("WriteKey(%s): pass phrase is not a key", path);
        return 0;
    }
    ReplacementFile file(path);
    FILE* f = file.Open(aesKey ? 0600 : 0666) ? file.stream() : nullptr;
    if (!f) return 0;
    if (aesKey) fchmod(file.fd(), 0600);  // a private key stays the owner's, whatever the old file allowed
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
    FILE* f = fopen(path, "rbe");
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
        if (!IsHexText(modulo.data(), m) || !IsHexText(exponent.data(), e)) {
            PrintError("ReadKey (%s): BAD KEY: %s", path, aesKey);
            return 0;
        }
    } else if (!IsHexText(modulo.data(), m) || !IsHexText(exponent.data(), e)) {
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
