// Command line of marivant-sim.
#pragma once

#include <string>

#include "config.h"
#include "simtime.h"

namespace runner {

struct Options {
    std::string state_dir = "./marivant-state";
    bool realtime = true;
    bool realtime_set = false;
    bool clock_set = false;
    uint32_t clock_seconds = 0;  // seconds since 1900-01-01
    std::string script_path;
    bool has_script = false;
    sim::Nanos until = sim::kNever;
    std::string transcript_path;
    bool pty = false;
    bool quiet = false;        // console output not copied to stdout
    bool interactive = false;  // a person at a terminal: raw mode, quit key
    std::string scenario_path;
    sim::BoardConfig board;
};

// Parses argv; on error or --help prints to stderr/stdout and returns the exit code (>= 0).
int parse_options(int argc, char** argv, Options* opt);
// "YYYY-MM-DD HH:MM:SS" to seconds since 1900-01-01.
bool parse_clock(const std::string& text, uint32_t* seconds);

}  // namespace runner
