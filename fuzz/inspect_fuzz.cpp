// Arbitrary bytes as a package given to `kivpack inspect` (as text and as JSON) and `kivpack
// verify`, run in-process: each ends with 0 or 1, reads the package without writing any file, and
// the three tell the same story about it.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "package_commands.h"
#include "host/host_control.h"

namespace {

struct Scratch {
    std::string directory;
    std::string package;
};

void RemoveScratch();

const Scratch& TheScratch()
{
    static Scratch scratch;
    if (scratch.directory.empty()) {
        char pattern[] = "/tmp/kiv_inspect_fuzz.XXXXXX";
        CHECK(mkdtemp(pattern));
        scratch.directory = pattern;
        scratch.package = scratch.directory + "/package.exe";
        atexit(RemoveScratch);
    }
    return scratch;
}

void RemoveScratch()
{
    unlink(TheScratch().package.c_str());
    rmdir(TheScratch().directory.c_str());
}

bool FileHolds(const std::string& path, const uint8_t* data, size_t size)
{
    int descriptor = open(path.c_str(), O_RDONLY);
    CHECK(descriptor >= 0);
    std::vector<uint8_t> bytes(size + 1);
    ssize_t got = 0;
    for (ssize_t n; (n = read(descriptor, bytes.data() + got, bytes.size() - (size_t)got)) > 0;)
        got += n;
    close(descriptor);
    return (size_t)got == size && (size == 0 || memcmp(bytes.data(), data, size) == 0);
}

struct Run {
    int code;
    std::string out;
    std::string err;
};

// The commands' own entry points: what `kivpack inspect [--json]` and `kivpack verify` run
// once their command line is parsed.
Run Inspect(const std::string& name, bool json)
{
    std::ostringstream out, err;
    int code = RunInspect(name, json, Console{out, err});
    return {code, out.str(), err.str()};
}

Run Verify(const std::string& name)
{
    std::ostringstream out, err;
    int code = RunVerify(name, Console{out, err});
    return {code, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Scratch& scratch = TheScratch();
    const std::string& name = scratch.package;
    WriteFile(name, data, size);
    HostReset();

    Run text = Inspect(name, false);
    Run json = Inspect(name, true);
    Run verify = Verify(name);

    for (const Run* run : {&text, &json, &verify}) CHECK(run->code == 0 || run->code == 1);
    CHECK(text.code == json.code);
    if (text.code != 0) {
        // No package at all: one line of error, no report, and verify says the same.
        CHECK(text.out.empty() && json.out.empty());
        CHECK(Lines(text.err).size() == 1 && text.err.rfind("kivpack: ", 0) == 0);
        CHECK(json.err == text.err && verify.err == text.err && verify.code == 1);
    } else {
        CHECK(text.err.empty() && json.err.empty());
        nlohmann::json report = nlohmann::json::parse(json.out);  // throws, and so fails, if malformed
        const nlohmann::json& warnings = report.at("warnings");
        CHECK(report.at("sound").get<bool>() == warnings.empty());
        CHECK(verify.code == (warnings.empty() ? 0 : 1));
        // verify gives exactly inspect's warnings, one line each.
        std::vector<std::string> lines = Lines(verify.err);
        CHECK(lines.size() == warnings.size());
        for (size_t i = 0; i < lines.size(); i++)
            CHECK(lines[i] == "kivpack: '" + name + "': " + warnings[i].get<std::string>());
    }

    // Nothing opened for writing or removed, and the directory holds only the unchanged package.
    for (const std::string& call : HostCalls()) {
        CHECK(call.rfind("remove ", 0) != 0);
        if (call.rfind("fopen ", 0) == 0) CHECK(call == "fopen " + name + " rb");
    }
    std::vector<std::string> names = Names(scratch.directory);
    CHECK(names.size() == 1 && names[0] == "package.exe");
    CHECK(FileHolds(name, data, size));
    return 0;
}
