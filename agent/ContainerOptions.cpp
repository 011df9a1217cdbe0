#include "agent/ContainerOptions.h"

#include <string.h>
#include <time.h>

#include "core/Globals.h"
#include "crypto/Container.h"
#include "crypto/Zip.h"
#include "foundation/Log.h"
#include "records/Client.h"
#include "records/Config.h"
#include "selection/VersionFiles.h"
#include "selection/VersionNode.h"

const char* const kBuiltInCryptKey = "7d41c9e2b05a36f8e1c4d7a2905b3e6f";

namespace {

const int kPrintLogsRounds = 100000;

double Seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Runs `operation`, prints how long it took and turns its result into an
// exit status.
template <typename Operation>
int Timed(Operation operation) {
    double start = Seconds();
    bool ok = operation();
    PrintScreen("It took: %2.2f sec\n", Seconds() - start);
    return ok ? 0 : 1;
}

}  // namespace

int CryptOption(const char* in, const char* out, const char* key) {
    return Timed([&] { return CryptAESTo(in, out, key ? key : kBuiltInCryptKey, false, nullptr, nullptr); });
}

int DecryptOption(const char* in, const char* out, const char* key) {
    return Timed([&] { return DecryptAES(in, out, key ? key : kBuiltInCryptKey, false); });
}

int ZipOption(const char* in, const char* out) {
    return Timed([&] { return ZipFile(in, out); });
}

int UnzipOption(const char* in, const char* out) {
    return Timed([&] { return DeZipFile(in, out); });
}

int DiffOption(const char* first, const char* second, const char* out) {
    int result = MakeDiffFile(first, second, out);
    PrintMessage("result is: %i", result);
    return result == 0 || result == 1 ? 0 : 1;
}

int PrintLogsOption(const char* set) {
    Client client;
    snprintf(client.base_id, sizeof(client.base_id), "%s", set ? set : "");
    snprintf(client.box_name, sizeof(client.box_name), "%s", config ? config->name : "");
    VersionNode version;
    version.SetHashName("0123456789abcdef0123456789abcdef");
    char path[400];
    double start = Seconds();
    for (int i = 0; i < kPrintLogsRounds; i++) {
        client.value_3 = i % 4;
        version.backup_date = i;
        GetServerPath(path, &client, &version, nullptr, sizeof(path));
    }
    PrintMessage("%i done in %2.2fs", kPrintLogsRounds, Seconds() - start);
    return 0;
}

int RunContainerOption(int argc, char** argv) {
    if (argc < 2) return -1;
    const char* name = argv[1];
    auto is = [&](const char* a, const char* b) { return !strcmp(name, a) || (b && !strcmp(name, b)); };
    const char* key = argc > 4 ? argv[4] : nullptr;
    if (is("-c", "--crypt")) return argc < 4 ? -1 : CryptOption(argv[2], argv[3], key);
    if (is("-d", "--decrypt")) return argc < 4 ? -1 : DecryptOption(argv[2], argv[3], key);
    if (is("--zip", "-z")) return argc < 4 ? -1 : ZipOption(argv[2], argv[3]);
    if (is("--unzip", "-u")) return argc < 4 ? -1 : UnzipOption(argv[2], argv[3]);
    if (is("--diff", nullptr)) return argc < 5 ? -1 : DiffOption(argv[2], argv[3], argv[4]);
    if (is("--printlogs", nullptr)) return argc < 3 ? -1 : PrintLogsOption(argv[2]);
    return -1;
}
