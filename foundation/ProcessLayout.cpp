#include "foundation/ProcessLayout.h"

#include <atomic>

namespace {

std::atomic<const ProcessFolders*> current_folders{nullptr};
std::atomic<const ProcessLocks*> current_locks{nullptr};

}  // namespace

void SetProcessFolders(const ProcessFolders* folders) {
    current_folders.store(folders);
}
void SetProcessLocks(const ProcessLocks* locks) {
    current_locks.store(locks);
}
const ProcessFolders* process_folders() {
    return current_folders.load();
}
const ProcessLocks* process_locks() {
    return current_locks.load();
}
