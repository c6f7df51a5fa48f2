#pragma once
// The subcommands; each returns the process exit code.
#include "cli.h"

namespace varnel::app {

int runPlugin(const RunOptions& options);
int runSimulator(const SimOptions& options);

}  // namespace varnel::app
