#include "registry/regedit_process.h"

#include <vector>

#include "base/text.h"
#include "registry/regedit_child.h"

namespace brisko {

namespace {

// Splits at blanks outside double quotes; quotes are removed.
std::vector<std::string> splitCommandLine(std::string_view s) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, any = false;
    for (char c : s) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any || !cur.empty()) out.push_back(std::move(cur));
            cur.clear();
            any = false;
        } else {
            cur.push_back(c);
        }
    }
    if (any || !cur.empty()) out.push_back(std::move(cur));
    return out;
}

}  // namespace

std::optional<RegeditCommand> parseRegeditCommand(std::string_view commandLine) {
    auto args = splitCommandLine(commandLine);
    if (args.size() != 3) return std::nullopt;
    std::string program = upperCase(extractFileName(args[0]));
    if (program != "REGEDIT" && program != "REGEDIT.EXE") return std::nullopt;
    RegeditCommand c;
    if (equalsNoCase(args[1], "/s"))
        c.kind = RegeditCommand::Import;
    else if (equalsNoCase(args[1], "/e"))
        c.kind = RegeditCommand::Export;
    else
        return std::nullopt;
    c.file = args[2];
    if (c.file.empty()) return std::nullopt;
    return c;
}

int backupHintStep(int p) {
    if (p <= 300) return p + 10;
    if (p <= 400) return p + 5;
    if (p <= 450) return p + 3;
    if (p <= 490) return p + 2;
    return p < 500 ? p + 1 : p;
}

RegeditProcess::RegeditProcess(RegeditCommand command, std::unique_ptr<ChildProcess> child)
    : child_(std::move(child)), command_(std::move(command)) {}

RegeditProcess::~RegeditProcess() {
    if (!done_) terminate();
}

bool RegeditProcess::finished() {
    if (done_) return true;
    auto code = child_->poll();
    if (!code) return false;
    done_ = true;
    exitCode_ = *code;
    return true;
}

void RegeditProcess::terminate() {
    if (done_) return;
    child_->kill();
    done_ = true;
    stopped_ = true;
    exitCode_ = 0;
}

std::string RegeditProcess::errorOutput() const {
    return child_->errorOutput();
}

}  // namespace brisko
