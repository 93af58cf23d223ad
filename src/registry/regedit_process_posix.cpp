// On an image: our own `brisko reg import` / `brisko reg export --all` stands
// in for the registry editor, started with posix_spawn.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#include "registry/regedit_child.h"
#include "registry/regedit_process.h"

extern char** environ;

namespace brisko {

namespace fs = std::filesystem;

namespace {

bool isWindowsPath(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' &&
           ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

class PosixChild : public ChildProcess {
  public:
    PosixChild(pid_t pid, int errFd) : pid_(pid), errFd_(errFd) {}
    ~PosixChild() override {
        if (errFd_ >= 0) ::close(errFd_);
    }

    std::optional<int> poll() override {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == 0) return std::nullopt;
        return r == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void kill() override {
        // The import holds the machine's lock and writes hives as one commit:
        // ended at any point, it leaves them as they were or fully merged.
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }

    std::string errorOutput() const override {
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

  private:
    pid_t pid_;
    int errFd_;
};

}  // namespace

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
    return std::unique_ptr<RegeditProcess>(
        new RegeditProcess(std::move(*command), std::make_unique<PosixChild>(pid, errFd)));
}

void reloadRegistryAfterImport(Machine& machine) {
    if (auto* image = dynamic_cast<ImageMachine*>(&machine)) image->reloadRegistry();
}

}  // namespace brisko
