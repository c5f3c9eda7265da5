// The commands of kivpack, each group adding itself to the command line from its own file.
#pragma once

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>
#include <vector>

#include "package_commands.h"  // Console and the exit codes every command shares

// Every command reports through `console`, which must outlive the parse and the run. The
// command's callback leaves its exit code in `*exitCode`.
void AddStreamCommands(CLI::App& app, const Console& console, int* exitCode);
void AddPackageCommands(CLI::App& app, const Console& console, int* exitCode);

// Runs kivpack with these arguments (the program name left out); returns its exit code.
int RunKivpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
