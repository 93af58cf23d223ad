#include "cleaner/clean_test_machine.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace brisko::test {

namespace fs = std::filesystem;

bool SpyFileApi::shellDelete(std::string_view p) {
    if (onDelete) {
        std::string bytes;
        if (auto h = in_.openFile(p, FileMode::Read)) {
            bytes.resize(static_cast<size_t>(std::max<int64_t>(h->size(), 0)));
            bytes.resize(static_cast<size_t>(
                std::max<int64_t>(h->read(bytes.data(), static_cast<int64_t>(bytes.size())), 0)));
        }
        onDelete(p, bytes);
    }
    return in_.shellDelete(p);
}

CleanTestMachine::CleanTestMachine(MachineBuilder& builder)
    : image_((builder.write(dir_.path()), std::make_unique<ImageMachine>(dir_.path()))),
      spy_(image_->files()) {}

CleanTestMachine::~CleanTestMachine() = default;

fs::path CleanTestMachine::host(std::string_view winPath) {
    std::string p(winPath);
    if (p.size() >= 3 && p[1] == ':') p = p.substr(3);
    for (auto& c : p)
        if (c == '\\') c = '/';
    return dir_.path() / p;
}

std::map<std::string, std::string> CleanTestMachine::snapshot() const {
    std::map<std::string, std::string> all;
    for (auto it = fs::recursive_directory_iterator(dir_.path());
         it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = fs::relative(it->path(), dir_.path()).string();
        all[rel] = it->is_directory() ? std::string("<dir>") : readFile(it->path());
    }
    return all;
}

bool ImmutableFile::change(bool immutable) {
    int fd = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

bool ImmutableFile::set() {
    set_ = change(true);
    return set_;
}

ImmutableFile::~ImmutableFile() {
    if (set_) change(false);
}

int ScriptedPrompter::ask(std::string_view text, unsigned flags) {
    std::lock_guard lock(mutex_);
    asked.emplace_back(text);
    if (!answers.empty()) {
        int a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    return defaultAnswer(flags);
}

TOptionsSetting cleanSettings(bool fastScan) {
    TOptionsSetting s;
    s.IsAskBeforeClear = true;
    s.WipeNumber = 1;
    s.FastScan = fastScan;
    return s;
}

ItemRun runRoutine(Machine& m, const TOptionsSetting& settings, int runMode,
                   const std::function<void(CleanContext&)>& routine, Prompter* prompter) {
    DefaultPrompter fallback;
    MemoryCleanLog log;
    CleanContext ctx(m, settings, runMode, prompter ? *prompter : fallback, log);
    ctx.resetItem();
    routine(ctx);
    return {ctx.ItemCount, ctx.ItemBytes, ctx.ItemSizeText, log.lines()};
}

}  // namespace brisko::test
