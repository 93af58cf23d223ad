#pragma once
// Hive replacements that wait for the next start of the machine, and carrying
// one out. The pending list is a small text file in the machine folder, one
// replacement a line:
//   hive file, new file, old file (Windows paths), kind, the hive's identity
//   when it was scheduled, the new file's identity, why the last restart left
//   it pending
// (tab-separated; lines with the first three fields alone are read too).
//
// A replacement never loses a change: a compact copy is put in place only
// while its hive is still the one that was copied; otherwise the copy is made
// again from the hive as it is. A restart cut short leaves every hive either
// old or new, and the next restart finishes the job.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hive/hive_copy.h"

namespace brisko {

// The pending list's name in the machine folder.
inline constexpr const char* kPendingHivesFile = ".brisko-pending-hives";

enum class ReplaceKind {
    Compact,  // a compact copy of the hive (defrag): made again when the hive changed
    Restore,  // a restore point's hive: put back whatever the hive holds now
};

struct PendingReplace {
    std::string hiveFile, newFile, oldFile;
    ReplaceKind kind = ReplaceKind::Compact;
    std::optional<hive::FileIdentity> hiveId;  // unknown: the copy is made again
    std::optional<hive::FileIdentity> newId;
    std::string reason;  // why the last restart did not carry it out
};

std::vector<PendingReplace> parsePendingList(const std::string& text);
std::string formatPendingList(const std::vector<PendingReplace>& list);
std::vector<PendingReplace> readPendingList(const std::filesystem::path& file);
bool writePendingList(const std::filesystem::path& file, const std::vector<PendingReplace>& list);

// The steps of one replacement, for tests that stop a restart part-way.
enum class ReplaceStep { CopyRedone, OldRemoved, HiveMoved, LogsMoved, NewMoved };

struct ReplaceHostPaths {
    std::filesystem::path hive, newFile, oldFile;
};

// A replacement cut short between moving the old hive aside and putting the
// new one in place leaves no hive file: this finishes it (true), or puts the
// old hive back when the new file cannot be used (false, with the reason).
// nullopt when the files are not in that state. Done when the machine is
// opened, before any hive is read.
std::optional<bool> finishInterruptedReplacement(PendingReplace& entry,
                                                 const ReplaceHostPaths& paths);

// Carries out one replacement on the host files, with the registry closed
// and the machine's lock held. `entry` may be updated (a copy made again has
// a new identity); `persist` is called whenever it was, before the files are
// moved. True when the hive file is now the new one; false with the reason
// in entry.reason when it stays as it was.
bool carryOutReplacement(PendingReplace& entry, const ReplaceHostPaths& paths,
                         const std::function<void()>& persist,
                         const std::function<void(ReplaceStep)>& probe = {});

}  // namespace brisko
