// The packaging commands of kivpack: build, inspect, verify, extract.
#pragma once

#include <ostream>
#include <string>

// Exit codes of every command.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // bad input, a bad package, a failed check
constexpr int kExitUsage = 2;    // a command line that cannot be carried out as given

// Where a command reports. Errors go to `err` as one line each, "kivpack: ...".
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool quiet = false;  // nothing on success, no warnings, no progress bar
};

struct BuildOptions {
    std::string output;
    std::string program;
    std::string blocks[4];  // empty: absent
    std::string stub;       // empty: the stub built into kivpack
};

struct ExtractOptions {
    std::string package;
    std::string output;
    std::string partsDirectory;  // empty: no parts
};

int RunBuild(const BuildOptions& options, const Console& console);
int RunInspect(const std::string& package, bool json, const Console& console);
int RunVerify(const std::string& package, const Console& console);
int RunExtract(const ExtractOptions& options, const Console& console);
