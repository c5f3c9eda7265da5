// kivpack: builds and takes apart setup packages and their program streams.
#include <iostream>

#include "commands.h"

int main(int argc, char** argv)
{
    CLI::App app("kivpack: the packaging tool of Kiv Setup", "kivpack");
    app.set_version_flag("--version", "kivpack " KIV_VERSION);
    app.require_subcommand(1);
    Console console{std::cout, std::cerr};
    app.add_flag("-q,--quiet", console.quiet, "print nothing on success: no summary, no progress");

    int exitCode = kExitSuccess;
    // Each group of commands adds itself here.
    AddStreamCommands(app, console, &exitCode);
    AddPackageCommands(app, console, &exitCode);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
        std::cerr << "kivpack: " << e.what() << " (kivpack --help for usage)\n";
        return kExitUsage;
    }
    return exitCode;
}
