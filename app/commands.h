#pragma once
// The subcommands; each returns the process exit code.
#include "cli.h"

namespace varnel::app {

int runPlugin(const RunOptions& options);
int runSimulator(const SimOptions& options);
int runSyncCommand(const SyncOptions& options);
int listPorts(const PortsOptions& options);
int runWebPassword(const WebPasswordOptions& options);
int runHistoryBackup(const HistoryBackupOptions& options);
int runHealth(const HealthOptions& options);

}  // namespace varnel::app
