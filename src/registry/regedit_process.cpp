#include "registry/regedit_process.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/text.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"

extern char** environ;
#endif

namespace brisko {

namespace fs = std::filesystem;

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

#ifndef _WIN32
bool isWindowsPath(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' &&
           ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

#endif
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

#ifdef _WIN32
// The native backend has the real registry editor; running it is not part of
// this build yet, so the caller shows that it is missing.
std::string briskoProgram() {
    return {};
}

std::unique_ptr<RegeditProcess> RegeditProcess::start(Machine&, std::string_view,
                                                      std::string* error) {
    if (error) *error = std::string(kRegeditMissingText);
    return nullptr;
}

RegeditProcess::~RegeditProcess() = default;

bool RegeditProcess::finished() {
    return true;
}

void RegeditProcess::terminate() {}

std::string RegeditProcess::errorOutput() const {
    return {};
}

void reloadRegistryAfterImport(Machine&) {}

#else
std::string briskoProgram() {
    if (const char* env = std::getenv("BRISKO_BIN"); env && *env && ::access(env, X_OK) == 0)
        return env;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    fs::path beside = self.parent_path() / "brisko";
    if (::access(beside.c_str(), X_OK) == 0) return beside.string();
    return {};
}

std::unique_ptr<RegeditProcess> RegeditProcess::start(Machine& machine,
                                                      std::string_view commandLine,
                                                      std::string* error) {
    auto fail = [&](std::string why) -> std::unique_ptr<RegeditProcess> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    auto command = parseRegeditCommand(commandLine);
    auto* image = dynamic_cast<ImageMachine*>(&machine);
    std::string program = briskoProgram();
    if (!command || !image || program.empty()) return fail(std::string(kRegeditMissingText));

    std::string hostFile = command->file;
    if (isWindowsPath(hostFile)) {
        auto host = image->imageFiles().resolve(hostFile, command->kind == RegeditCommand::Import);
        if (!host) return fail("The file " + command->file + " is not on this machine.");
        hostFile = host->string();
    }
    std::vector<std::string> args{program, "--machine", image->folder().string(), "reg"};
    if (command->kind == RegeditCommand::Import) {
        args.insert(args.end(), {"import", hostFile});
    } else {
        args.insert(args.end(), {"export", "--all", hostFile});
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The error output goes to an unnamed file, read when the process has ended.
    char tmpl[] = "/tmp/brisko-regedit-XXXXXX";
    int errFd = ::mkstemp(tmpl);
    if (errFd >= 0) ::unlink(tmpl);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (errFd >= 0) ::close(errFd);
        return fail(std::string(kRegeditMissingText));
    }
    std::unique_ptr<RegeditProcess> p(new RegeditProcess);
    p->pid_ = pid;
    p->errFd_ = errFd;
    p->command_ = *command;
    return p;
}

RegeditProcess::~RegeditProcess() {
    if (!done_) terminate();
    if (errFd_ >= 0) ::close(errFd_);
}

bool RegeditProcess::finished() {
    if (done_) return true;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0) return false;
    done_ = true;
    if (r == pid_ && WIFEXITED(status))
        exitCode_ = WEXITSTATUS(status);
    else
        exitCode_ = -1;
    return true;
}

void RegeditProcess::terminate() {
    if (done_) return;
    // The import holds the machine's lock and writes hives as one commit:
    // ended at any point, it leaves them as they were or fully merged.
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    done_ = true;
    stopped_ = true;
    exitCode_ = 0;
}

std::string RegeditProcess::errorOutput() const {
    std::string out;
    if (errFd_ < 0) return out;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while (out.size() < 64 * 1024 && (n = ::pread(errFd_, buf, sizeof buf, at)) > 0) {
        out.append(buf, size_t(n));
        at += n;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

void reloadRegistryAfterImport(Machine& machine) {
    if (auto* image = dynamic_cast<ImageMachine*>(&machine)) image->reloadRegistry();
}

#endif

}  // namespace brisko
