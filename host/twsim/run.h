// `twsim run`: plays a scenario through a session and leaves what happened
// in one folder: sound.wav, the panel as panel.mp4 (or PNG frames),
// panel-<time>.png snapshots, variables.csv, logfile.txt and summary.txt
// (summary.json too with --json).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

struct RunOptions {
    std::string scenario;
    std::string out;          // empty: <scenario name>-run in the current folder
    bool play = false;        // live through the sound device, in real time
    bool json = false;        // print the summary as JSON (and write summary.json)
    int fps = 18;             // frames a second of the film; 0: none
    double scale = 2.0;       // the panel's size in the film and the snapshots
};

// Exit codes: 0 the run is clean, 1 the summary lists something suspicious,
// 2 the scenario or its setting is wrong (nothing ran), 3 the run could not
// write its outputs.
int RunScenario(const RunOptions& options, std::ostream& out, std::ostream& err);

// The file of a module given by name ("tw_hx8", looked for beside twsim,
// then where the build made it) or by path (anything with a slash, as it
// is). Empty when not found; `looked` gets the folders looked in.
std::string FindModule(const std::string& entry, std::vector<std::string>* looked);
