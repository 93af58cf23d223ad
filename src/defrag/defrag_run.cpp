#include "defrag/defrag_run.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "core/ini_file.h"
#include "core/local_time.h"
#ifndef _WIN32
#include "base/atomic_file.h"
#endif
#include "core/machine/machine.h"
#include "core/messages.h"
#ifndef _WIN32
#include "core/small_file.h"
#endif

namespace brisko {

namespace {
// Messages of the worker, taken in order by the waiting caller.
class WaitQueue : public MessageTarget {
  public:
    void post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard lock(mutex_);
        queue_.push_back({msg, wParam, lParam});
        cv_.notify_all();
    }
    struct Item {
        uint32_t msg;
        uintptr_t wParam;
        intptr_t lParam;
    };
    Item take() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return !queue_.empty(); });
        Item i = queue_.front();
        queue_.pop_front();
        return i;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Item> queue_;
};

size_t findUpper(std::string_view name, std::string_view needle) {
    std::string upper(name);
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    return upper.find(needle);
}
}  // namespace

bool HiveCopyInUse(FileApi& files, std::string_view path) {
    return files.fileExists(path) && files.fileUse(path) != FileUse::Free;
}

bool AnyHiveCopyInUse(FileApi& files, const std::vector<HiveEntry>& hives) {
    for (const auto& h : hives)
        if (HiveCopyInUse(files, HiveCopyFile(h.file))) return true;
    return false;
}

AnalysisResult FinishAnalysis(Machine& machine, const std::vector<HiveEntry>& hives,
                              const std::string& statusLine,
                              std::vector<HiveCopyOutcome> outcomes) {
    AnalysisResult r;
    r.outcomes = std::move(outcomes);
    r.completed = statusLine == kAnalysisFinished && r.outcomes.size() == hives.size();
    if (!r.completed) return r;
    auto& files = machine.files();
    std::vector<int64_t> current, copies;
    std::vector<bool> skipped;
    for (size_t i = 0; i < hives.size(); ++i) {
        current.push_back(HiveFileSize(files, hives[i].file));
        copies.push_back(HiveFileSize(files, HiveCopyFile(hives[i].file)));
        bool left = !r.outcomes[i].made;
        skipped.push_back(left);
        if (r.outcomes[i].alreadyCompact)
            r.alreadyCompact.push_back(hives[i].name);
        else if (left)
            r.problems.push_back(hives[i].name + ": " + r.outcomes[i].problem);
    }
    // No size makes a copy suspect: a copy is only made once it was compared
    // key by key with its hive, and a SOFTWARE hive full of holes may well
    // shrink to a tenth.
    r.sizes = ComputeDefragSizes(current, copies, skipped);
    return r;
}

AnalysisResult RunDefragAnalysis(
    Machine& machine, const std::vector<HiveEntry>& hives, bool isWow64,
    const std::function<void(size_t, size_t, const std::string&)>& progress, std::stop_token stop) {
    auto queue = std::make_shared<WaitQueue>();
    auto status = std::make_shared<StatusLine>();
    TScanDefragTaskThread worker(machine, hives, isWow64, queue, status);
    std::stop_callback onStop(stop, [&] { worker.stop(); });
    worker.start();
    if (progress && !hives.empty()) progress(0, hives.size(), hives[0].name);
    for (;;) {
        auto m = queue->take();
        if (m.msg == kWmClose) break;
        if (m.msg == WM_HIVECOPY_DONE && progress) {
            size_t n = size_t(m.lParam);
            progress(n, hives.size(), n < hives.size() ? hives[n].name : std::string());
        }
    }
    while (!worker.finished()) std::this_thread::yield();
    return FinishAnalysis(machine, hives, status->get(), worker.outcomes());
}

void DeleteHiveCopies(Machine& machine, const std::vector<HiveEntry>& hives) {
    auto& files = machine.files();
    for (const auto& h : hives) {
        std::string copy = HiveCopyFile(h.file);
        // Copies scheduled for the restart, by this run or another program's, stay.
        if (files.fileExists(copy) && files.fileUse(copy) == FileUse::Free &&
            !machine.registry().waitsForRestart(copy))
            files.deleteFile(copy);
    }
}

std::string ReplaceTarget::keyPath() const {
    return std::string(root == RootKey::LocalMachine ? "\\REGISTRY\\MACHINE\\"
                                                     : "\\REGISTRY\\USER\\") +
           subkey;
}

ReplaceTarget ParseReplaceTarget(std::string_view hiveName) {
    ReplaceTarget t;
    constexpr std::string_view kMachine = "REGISTRY\\MACHINE\\";
    constexpr std::string_view kUser = "REGISTRY\\USER\\";
    if (size_t at = findUpper(hiveName, kMachine); at != std::string::npos) {
        t.root = RootKey::LocalMachine;
        t.subkey = std::string(hiveName.substr(at + kMachine.size()));
    } else {
        t.root = RootKey::Users;
        if (size_t u = findUpper(hiveName, kUser); u != std::string::npos)
            t.subkey = std::string(hiveName.substr(u + kUser.size()));
    }
    return t;
}

bool ReplaceHive(Machine& machine, std::string_view hiveName, std::string_view newFile,
                 std::string_view oldFile) {
    ReplaceTarget t = ParseReplaceTarget(hiveName);
    if (t.subkey.empty()) return false;
    auto& files = machine.files();
    if (files.fileExists(oldFile)) files.deleteFile(oldFile);
    return machine.registry().replaceHive(t.keyPath(), newFile, oldFile);
}

DefragOutcome ScheduleHiveReplacements(Machine& machine, const std::vector<HiveEntry>& hives,
                                       const std::vector<HiveCopyOutcome>& outcomes,
                                       Prompter& prompter) {
    DefragOutcome out;
    machine.enablePrivilege("SeRestorePrivilege");
    auto& reg = machine.registry();
    for (size_t i = 0; i < hives.size(); ++i) {
        const auto& h = hives[i];
        std::string copy = HiveCopyFile(h.file);
        std::string why;
        bool ok = false;
        if (i < outcomes.size() && outcomes[i].alreadyCompact) continue;  // nothing to gain
        if (i < outcomes.size() && !outcomes[i].made) {
            why = outcomes[i].problem;
        } else if (!reg.verifyHiveCopy(ParseReplaceTarget(h.name).keyPath(), copy, &why)) {
            // The hive changed since the analysis, or the copy did: never used.
            if (!reg.waitsForRestart(copy)) machine.files().deleteFile(copy);
        } else {
            ok = ReplaceHive(machine, h.name, copy, HiveBackupFile(h.file));
        }
        if (ok) {
            ++out.scheduled;
            continue;
        }
        std::string text = std::string(kFailedToDefrag) + h.name;
        if (!why.empty()) text += "\n\n" + why;
        out.failures.push_back(text);
        prompter.ask(text, MB_OK);
    }
    return out;
}

}  // namespace brisko

namespace brisko {

namespace {
bool isWindowsPath(const std::string& p) {
    return p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
           (p[2] == '\\' || p[2] == '/');
}
}  // namespace

bool WriteScanResult(Machine& machine, const std::string& iniFile, const DefragSizes* sizes,
                     std::string* why) {
    auto fail = [&](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    constexpr std::string_view kSection = "Scan Result";
#ifdef _WIN32
    // On Windows the machine is this computer: every path is one of its files.
    const bool inMachine = true;
#else
    const bool inMachine = isWindowsPath(iniFile);
#endif
    auto& files = machine.files();
    std::string text;
    if (inMachine) {
        if (files.fileExists(iniFile)) {
            auto f = files.openFile(iniFile, FileMode::Read);
            if (!f) return fail("The report file " + iniFile + " cannot be read.");
            int64_t n = f->size();
            if (n < 0 || n > (16 << 20))
                return fail("The report file " + iniFile + " is too large.");
            text.resize(size_t(n));
            if (n && f->read(text.data(), n) != n)
                return fail("The report file " + iniFile + " cannot be read.");
        }
    }
#ifndef _WIN32
    else if (auto existing = readSmallFile(iniFile, 16 << 20)) {
        text = *existing;
    }
#endif
    IniFile ini(text);
    for (const auto& key : ini.keys(kSection)) ini.deleteKey(kSection, key);
    ini.writeString(kSection, "Current Size", sizes ? sizes->currentRegistrySize : "");
    ini.writeString(kSection, "New Size", sizes ? sizes->newRegistrySize : "");
    ini.writeString(kSection, "Size Reduction", sizes ? sizes->sizeReduction : "");
    ini.writeString(kSection, "Compact Percent", sizes ? sizes->compactPercent : "");
    ini.writeString(kSection, "Time", localTimeNowText());
    std::string out = ini.text();
    if (inMachine) {
        auto f = files.createFile(iniFile);
        if (!f || f->write(out.data(), int64_t(out.size())) != int64_t(out.size()) || !f->flush())
            return fail("The report file " + iniFile + " cannot be written.");
        return true;
    }
#ifdef _WIN32
    return false;
#else
    std::string error;
    if (!writeFileAtomically(iniFile, out, &error))
        return fail("The report file " + iniFile + " cannot be written: " + error);
    return true;
#endif
}

}  // namespace brisko
