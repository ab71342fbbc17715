// twsim: the substitute simulator's command-line program.
//
//   twsim check <sound folder> [--json]
//       what the sound module makes of a folder with twsound.cfg and WAV
//       files; exits 1 when an item line is dropped, a WAV file cannot be
//       used or the configuration cannot be read.
//   twsim run <scenario> [--out DIR] [--play] [--json] [--fps N]
//       flies the modules through a scenario (docs/scenarios.md) and leaves
//       the sound, the panel's film, the variables, the sound module's log
//       and a summary in DIR; exits 1 when the summary lists something
//       suspicious, 2 when the scenario is wrong (before anything runs).
//   twsim serve [--sound-folder DIR] [--port N] [--address A]
//       the live panel in a browser: prints the address to open, runs until
//       Ctrl-C; exits 2 when the folder, address or port cannot be had.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "check.h"
#include "run.h"
#include "serve.h"

int main(int argc, char** argv) {
    CLI::App app{"twsim: runs the gauge modules' own code outside the simulator"};
    app.require_subcommand(1);

    std::string folder;
    bool json = false;
    CLI::App* check = app.add_subcommand("check", "Show what the sound module makes of a sound folder");
    check->add_option("folder", folder, "Folder holding twsound.cfg and the WAV files")->required()->check(CLI::ExistingDirectory);
    check->add_flag("--json", json, "Print the result as one JSON document");

    RunOptions run;
    CLI::App* runCommand = app.add_subcommand("run", "Fly the modules through a scenario: sound, panel film, variables, summary");
    runCommand->add_option("scenario", run.scenario, "The scenario file (TOML)")->required();
    runCommand->add_option("--out", run.out, "Output folder (default: <scenario name>-run)");
    runCommand->add_flag("--play", run.play, "Play the sound live through the sound device, in real time");
    runCommand->add_flag("--json", run.json, "Print the summary as JSON (and write summary.json)");
    runCommand->add_option("--fps", run.fps, "Frames a second of the panel film; 0 for none")->capture_default_str();

    ServeOptions serve;
    CLI::App* serveCommand = app.add_subcommand("serve", "The live panel in a browser: gauges, sliders, sounds, log, with the sound");
    serveCommand->add_option("--sound-folder", serve.soundFolder, "Folder holding twsound.cfg and the WAV files");
    serveCommand->add_option("--port", serve.port, "Port to listen on; 0 for any free one")->capture_default_str();
    serveCommand->add_option("--address", serve.address, "Address to listen on (another than this machine's loopback "
                                                         "lets other machines in)")
        ->capture_default_str();

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
    if (runCommand->parsed()) return RunScenario(run, std::cout, std::cerr);
    if (serveCommand->parsed()) return RunServe(serve, std::cout, std::cerr);
    return 0;
}
