#pragma once

#include "cli_args.h"

// Runs the command `args` names, for each address in turn on the one port;
// returns the exit status.
int RunCli(const tCliArgs &args);
