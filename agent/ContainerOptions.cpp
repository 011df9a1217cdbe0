#include "agent/ContainerOptions.h"

#include <time.h>

#include "agent/CommandLine.h"
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
    return ok ? kExitSuccess : kExitFailure;
}

const char* Key(int argc, char** argv) { return argc > 4 ? argv[4] : kBuiltInCryptKey; }

}  // namespace

int OptionCrypt(int argc, char** argv) {
    return Timed([&] { return CryptAESTo(argv[2], argv[3], Key(argc, argv), false, nullptr, nullptr); });
}

int OptionDecrypt(int argc, char** argv) {
    return Timed([&] { return DecryptAES(argv[2], argv[3], Key(argc, argv), false); });
}

int OptionZip(int, char** argv) {
    return Timed([&] { return ZipFile(argv[2], argv[3]); });
}

int OptionUnzip(int, char** argv) {
    return Timed([&] { return DeZipFile(argv[2], argv[3]); });
}

int OptionDiff(int, char** argv) {
    int result = MakeDiffFile(argv[2], argv[3], argv[4]);
    PrintMessage("result is: %i", result);
    return result == 0 || result == 1 ? kExitSuccess : kExitFailure;
}

int OptionPrintLogs(int, char** argv) {
    Client client;
    snprintf(client.base_id, sizeof(client.base_id), "%s", argv[2]);
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
    return kExitSuccess;
}
