#pragma once
// Programs run through the shell by tests: our own CLI, and the oracles
// (hivexml, regfexport, msiecfexport, sqlite3).
#include <string>
#include <string_view>
#include <vector>

namespace brisko::test {

struct CommandRun {
    int code = -1;  // the exit code; -1 when it did not start or did not exit
    std::string out;
};

// What the command printed on its output, and how it ended.
CommandRun runShell(const std::string& command);
// s in single quotes, for the shell.
std::string shellQuote(std::string_view s);
// The program and its arguments as a shell command, each one quoted.
std::string shellCommand(const std::vector<std::string>& argv);

}  // namespace brisko::test
