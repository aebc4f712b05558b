#pragma once
// A run of one action over every server, shared by deploy --all and build-package --all.
#include <string>

#include "app/cli/CliCommon.h"
#include "servers/Fleet.h"

// Every server in tree order ("== NAME (i of n)" before each), going on past a failed one; a
// summary line each (or one JSON document). Throws ECliError: exit 1 with FailText when any
// server failed, or when the project has no servers.
void RunForAllServers(TCliContext& ctx, TDbFile& db, IOperator& op, TFleetOptions options,
                      const std::string& failText);
