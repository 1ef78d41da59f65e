// Console scripts: `send "TEXT"`, `expect "TEXT" [SECONDS]`, `wait SECONDS`,
// `# comment`. TEXT takes the C escapes \r \n \t \\ \" \xHH.
#pragma once

#include <string>
#include <vector>

#include "world.h"

namespace runner {

struct ScriptCommand {
    enum Kind { Send, Expect, Wait } kind;
    std::string text;
    Nanos duration = 0;  // wait length, or the expect's limit
    int line = 0;
};

constexpr Nanos kDefaultExpectLimit = 60 * sim::kSecond;

// Parses a whole script; on error returns false with a message naming the line.
bool parse_script(const std::string& source, std::vector<ScriptCommand>* out, std::string* error);
bool parse_quoted(const std::string& s, size_t* pos, std::string* out);

// Runs the script as far as it can at `now`: queues sends, starts and ends
// waits, matches expects against the console output. Returns the time of its
// next own event (a wait's end or an expect's deadline), or kNever.
Nanos script_step(const std::vector<ScriptCommand>& script, World& w, Nanos now);

}  // namespace runner
