// twsim: the substitute simulator's command-line program.
//
//   twsim check <sound folder> [--json]
//       what the sound module makes of a folder with twsound.cfg and WAV
//       files; exits 1 when an item line is dropped, a WAV file cannot be
//       used or the configuration cannot be read.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "check.h"

int main(int argc, char** argv) {
    CLI::App app{"twsim: runs the gauge modules' own code outside the simulator"};
    app.require_subcommand(1);

    std::string folder;
    bool json = false;
    CLI::App* check = app.add_subcommand("check", "Show what the sound module makes of a sound folder");
    check->add_option("folder", folder, "Folder holding twsound.cfg and the WAV files")->required()->check(CLI::ExistingDirectory);
    check->add_flag("--json", json, "Print the result as one JSON document");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }

    if (check->parsed()) {
        const CheckReport report = RunCheck(folder);
        std::cout << (json ? FormatCheckJson(report) : FormatCheckText(report));
        std::cout.flush();
        return report.ok() ? 0 : 1;
    }
    return 0;
}
