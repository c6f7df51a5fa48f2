// `varnel history-backup`: SQLite's backup interface reads the database in one
// transaction, so the copy is one moment of it even while a run writes; copying the
// file and its journal by other means while they are written can give a damaged copy.
#include <iostream>

#include "commands.h"
#include "history/store.h"

namespace varnel::app {

int runHistoryBackup(const HistoryBackupOptions& o) {
    const auto from = o.hostDir / "history.sqlite";
    const auto to = o.to.value_or(o.hostDir / "history-backup.sqlite");
    if (auto err = history::backup(from, to)) {
        std::cerr << "varnel history-backup: " << *err << std::endl;
        return kExitFailure;
    }
    std::cout << "History copied to " << to.string() << std::endl;
    return kExitOk;
}

}  // namespace varnel::app
