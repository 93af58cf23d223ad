#include "cleaner/clean_context.h"

#include "base/text.h"
#include "cleaner/clean_log.h"
#include "cleaner/folder_guards.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/messages.h"

namespace brisko {

CleanContext::CleanContext(Machine& machine, const TOptionsSetting& settings, int runMode,
                           Prompter& prompter, CleanLogSink& log, MessageTarget* target,
                           std::stop_token stop)
    : machine(machine),
      settings(settings),
      RunMode(runMode),
      prompter(prompter),
      log(log),
      target(target),
      stop(std::move(stop)),
      RunPrefix(runMode == kRunTest ? kTestPrefix : kCleanPrefix),
      RemovedWord(runMode == kRunTest ? kWillBeRemoved : kToBeRemoved) {}

CleanContext::~CleanContext() = default;

bool CleanContext::fastScan() const {
    return liveFastScan_ ? liveFastScan_->load(std::memory_order_relaxed) : settings.FastScan;
}

void CleanContext::addItemBytes(int64_t bytes) {
    setItemBytes(ItemBytes + bytes);
}

void CleanContext::setItemBytes(int64_t bytes) {
    ItemBytes = bytes;
    ItemSizeText = FormatKB(bytes < 0 ? 0 : static_cast<uint64_t>(bytes));
}

void CleanContext::logLine(std::string_view line) {
    log.addLine(line);
}

void CleanContext::scrollLog() {
    log.scrollToEnd();
}

void CleanContext::logFileLine(std::string_view path) {
    if (fastScan()) return;
    std::string line = RunPrefix;
    line += "deleting ";
    line += path;
    log.addLine(line);
    if (++ScrollCounter >= (isTestRun() ? 50 : 25)) {
        log.scrollToEnd();
        ScrollCounter = 0;
    }
}

void CleanContext::logKeyLine(std::string_view rootName, std::string_view subPath) {
    if (fastScan()) return;
    std::string line = RunPrefix;
    line += "deleting registry key ";
    line += rootName;
    line += '\\';
    line += subPath;
    log.addLine(line);
    log.scrollToEnd();
}

void CleanContext::logValueLine(std::string_view rootName, std::string_view subPath,
                                std::string_view valueName) {
    if (fastScan()) return;
    std::string line = RunPrefix;
    line += "deleting registry value ";
    line += rootName;
    line += '\\';
    line += subPath;
    line += '\\';
    line += valueName;
    log.addLine(line);
    log.scrollToEnd();
}

void CleanContext::postProgress(int64_t itemCounter) {
    auto now = std::chrono::steady_clock::now();
    if (now - LastProgressTime <= std::chrono::seconds(2)) return;
    LastProgressTime = now;
    if (target)
        target->post(WM_CLEAN_PROGRESS, static_cast<uintptr_t>(TotalCount + itemCounter), 0);
}

void CleanContext::resetItem() {
    ItemCount = 0;
    ItemSizeText.assign(1, '0');  // not = "0": GCC 12 warns falsely (-Wrestrict)
    ItemBytes = 0;
    ScratchPath.clear();
    LastProgressTime = std::chrono::steady_clock::now();
    ScrollCounter = 0;
}

int CleanContext::ask(std::string_view text, unsigned flags) {
    return prompter.ask(text, flags);
}

const std::string& CleanContext::documentsFolder() {
    if (!documents_) documents_ = MyDocumentsFolder(machine);
    return *documents_;
}

const FolderGuards& CleanContext::guards() {
    if (!guards_) guards_ = std::make_unique<FolderGuards>(machine);
    return *guards_;
}

bool CleanContext::firstFile(std::string_view path, const PlaceId* listed) {
    if (!isTestRun()) return true;
    if (listed && !(*listed == PlaceId{})) return countedFiles_.insert(*listed);
    auto place = machine.files().placeId(path);
    return !place || countedFiles_.insert(*place);
}

bool CleanContext::firstTable(std::string_view dbPath, std::string_view table, bool allRows) {
    if (!isTestRun()) return true;
    auto place = machine.files().placeId(dbPath);
    if (!place) return true;
    if (countedFiles_.contains(*place)) return false;
    const std::string id =
        std::to_string(place->volume) + ":" + std::to_string(place->file) + ":" + upperCase(table);
    if (countedTables_.count(id)) return false;
    if (allRows) countedTables_.insert(id);
    return true;
}

bool CleanContext::keyCounted(const std::string& upperKey) const {
    if (countedKeys_.empty()) return false;
    for (size_t at = upperKey.find('\\'); at != std::string::npos; at = upperKey.find('\\', at + 1))
        if (countedKeys_.count(upperKey.substr(0, at))) return true;
    return countedKeys_.count(upperKey) != 0;
}

bool CleanContext::firstKey(std::string_view keyPath) {
    if (!isTestRun()) return true;
    std::string key = upperCase(keyPath);
    if (keyCounted(key)) return false;
    countedKeys_.insert(std::move(key));
    return true;
}

bool CleanContext::firstValue(std::string_view keyPath, std::string_view valueName) {
    if (!isTestRun()) return true;
    std::string key = upperCase(keyPath);
    if (keyCounted(key)) return false;
    return countedValues_.insert(key + '\0' + upperCase(valueName)).second;
}

// --- Item table -------------------------------------------------------------

void ItemTable::add(std::string logCaption, ItemRoutine routine) {
    items_[std::move(logCaption)] = std::move(routine);
}

const ItemRoutine* ItemTable::find(std::string_view logCaption) const {
    auto it = items_.find(logCaption);
    return it == items_.end() ? nullptr : &it->second;
}

std::vector<std::string> ItemTable::captions() const {
    std::vector<std::string> r;
    r.reserve(items_.size());
    for (const auto& [caption, routine] : items_) r.push_back(caption);
    return r;
}

Dispatch dispatchCaption(const ItemTable& table, std::string_view logCaption) {
    // The custom-list test comes first, so any caption holding the marker reads
    // "Custom.dat", whichever group it is in.
    if (logCaption.find(kCustomListsMarker) != std::string_view::npos)
        return {Dispatch::DataFile, nullptr, kCustomDataFile};
    if (const auto* r = table.find(logCaption)) return {Dispatch::Routine, r, {}};
    return {Dispatch::DataFile, nullptr, kAppsDataFile};
}

const ItemTable& builtinItemTable() {
    static const ItemTable table = [] {
        ItemTable t;
        addItemFamilies(t);
        return t;
    }();
    return table;
}

}  // namespace brisko
