#pragma once
// Where the clean worker writes its log, and saving a log as a text file.
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class Prompter;

// The Cleaner pane's log list as the worker sees it. Both calls come from the
// worker thread and return once the line is in the log (the Qt pane marshals
// them to its thread), so the order of lines is the order of the calls.
class CleanLogSink {
  public:
    virtual ~CleanLogSink() = default;
    virtual void addLine(std::string_view line) = 0;
    virtual void scrollToEnd() {}
};

// A log held in memory: the CLI, the tests and the run controller's copy for
// saving. onLine (optional) sees every line as it arrives, on the caller's thread.
class MemoryCleanLog : public CleanLogSink {
  public:
    void addLine(std::string_view line) override;
    std::vector<std::string> lines() const;
    size_t size() const;
    void clear();

    std::function<void(std::string_view)> onLine;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline constexpr std::string_view kProductWebPage = "https://brisko-cleaner.example.org/";

// The name a log is saved under: the chosen name, with ".txt" appended unless
// its extension is exactly ".txt".
std::filesystem::path logTextFileName(const std::filesystem::path& chosen);

// The saved file's content: the two header lines, an empty line, then the log
// lines in order, each ended by CR LF.
std::string logTextContent(const std::vector<std::string>& lines);

enum class SaveLogResult { Saved, Declined, Failed };

// Saves the log under the name the save dialog returned (a host path). An
// existing file is only replaced when the user answers Yes to
// "<name> has existed,overite it?". The file is written beside and renamed into
// place, so a failed write leaves an existing file as it was.
SaveLogResult saveLogToText(const std::filesystem::path& chosen,
                            const std::vector<std::string>& lines, Prompter& prompter);

}  // namespace brisko
