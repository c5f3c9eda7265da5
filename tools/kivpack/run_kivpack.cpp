// The whole kivpack command line, runnable in-process by main, the tests and the fuzzers.
#include "commands.h"

int RunKivpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CLI::App app("kivpack: the packaging tool of Kiv Setup", "kivpack");
    app.set_version_flag("--version", "kivpack " KIV_VERSION);
    app.require_subcommand(1);
    Console console{out, err};
    app.add_flag("-q,--quiet", console.quiet, "print nothing on success: no summary, no progress");

    int exitCode = kExitSuccess;
    // Each group of commands adds itself here.
    AddStreamCommands(app, console, &exitCode);
    AddPackageCommands(app, console, &exitCode);

    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::Success& e) {
        return app.exit(e, out, err);  // --help, --version
    } catch (const CLI::ParseError& e) {
        err << "kivpack: " << e.what() << " (kivpack --help for usage)\n";
        return kExitUsage;
    }
    return exitCode;
}
