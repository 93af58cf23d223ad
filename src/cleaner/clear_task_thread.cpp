#include "cleaner/clear_task_thread.h"

#include <exception>

#include "cleaner/clean_log.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/messages.h"

namespace brisko {

std::string separatorLine() {
    return std::string(kSeparatorWidth, '-');
}

std::string totalsLine(bool testRun, int64_t totalCount, int64_t totalBytes) {
    const std::string_view word = testRun ? kWillBeRemoved : kToBeRemoved;
    std::string line = "Total items ";
    line += word;
    line += " = " + std::to_string(totalCount) + " ; Total files ";
    line += word;
    line += " = " + FormatKB(totalBytes < 0 ? 0 : static_cast<uint64_t>(totalBytes)) + " KB";
    return line;
}

TClearTaskThread::TClearTaskThread(Inputs inputs)
    : in_(std::move(inputs)),
      settings_(in_.settings),
      table_(in_.table ? *in_.table : builtinItemTable()) {}

TClearTaskThread::~TClearTaskThread() {
    requestStop();
    join();
}

void TClearTaskThread::start() {
    if (started_) return;
    started_ = true;
    thread_ = std::jthread([this](std::stop_token stop) {
        // Item failures are caught per item; this only keeps a failing log sink
        // from taking the whole process down with it.
        try {
            Execute(stop);
        } catch (...) {
        }
    });
}

void TClearTaskThread::requestStop() {
    thread_.request_stop();
}

void TClearTaskThread::join() {
    if (thread_.joinable()) thread_.join();
}

std::vector<CleanItemResult> TClearTaskThread::results() const {
    std::lock_guard lock(resultsMutex_);
    return results_;
}

std::vector<std::string> TClearTaskThread::refusals() const {
    std::lock_guard lock(resultsMutex_);
    return refusals_;
}

int64_t TClearTaskThread::totalCount() const {
    std::lock_guard lock(resultsMutex_);
    return totalCount_;
}

int64_t TClearTaskThread::totalBytes() const {
    std::lock_guard lock(resultsMutex_);
    return totalBytes_;
}

void TClearTaskThread::runItem(CleanContext& ctx, const std::string& caption) {
    Dispatch d = dispatchCaption(table_, caption);
    if (d.kind == Dispatch::Routine) {
        (*d.routine)(ctx);
    } else if (const auto& dataFile = table_.dataFileRoutine()) {
        dataFile(ctx, d.fileName, caption);
    }
}

void TClearTaskThread::logSummary(CleanContext& ctx) {
    ctx.logLine("");
    ctx.logLine(std::to_string(ctx.ItemCount) + " items " + ctx.RemovedWord + "; " +
                ctx.ItemSizeText + " KB " + ctx.RemovedWord + ".");
    ctx.logLine("");
    ctx.scrollLog();
}

void TClearTaskThread::Execute(std::stop_token stop) {
    struct Finish {
        std::atomic<bool>& flag;
        ~Finish() { flag.store(true); }
    } finish{finished_};

    CleanContext ctx(in_.machine, settings_, in_.runMode, in_.prompter, in_.log, in_.target, stop);
    ctx.setFastScanSource(in_.liveFastScan);
    ctx.CountPass = in_.countPass;
    auto post = [&](uint32_t msg, int64_t w) {
        if (in_.target) in_.target->post(msg, static_cast<uintptr_t>(w), 0);
    };

    for (size_t i = 0; i < in_.jobs.size(); ++i) {
        if (stop.stop_requested()) break;
        const std::string& caption = in_.jobs[i];
        ctx.CurrentIndex = static_cast<int>(i);
        ctx.LogCaption = caption;
        ctx.resetItem();
        if (i > 0) ctx.logLine(separatorLine());
        ctx.logLine(ctx.RunPrefix + "Clearing " + caption + " ...");

        CleanItemResult result{caption};
        // One failing item must not end the run unseen: it is named in the log
        // and the run goes on with the next item.
        try {
            runItem(ctx, caption);
        } catch (const std::exception& e) {
            result.error = e.what();
        } catch (...) {
            result.error = "unknown error";
        }
        if (!result.error.empty())
            ctx.logLine("Error while clearing " + caption + ": " + result.error);

        logSummary(ctx);
        ctx.TotalCount += ctx.ItemCount;
        ctx.TotalBytes += ctx.ItemBytes;
        result.count = ctx.ItemCount;
        result.bytes = ctx.ItemBytes;
        result.sizeText = ctx.ItemSizeText;
        {
            std::lock_guard lock(resultsMutex_);
            results_.push_back(std::move(result));
            totalCount_ = ctx.TotalCount;
            totalBytes_ = ctx.TotalBytes;
        }
        post(WM_CLEAN_PROGRESS, ctx.TotalCount);
    }
    // A hive that refused a change says why before the commit forgets it.
    if (!ctx.isTestRun()) {
        auto refused = in_.machine.registry().refusedEdits();
        for (const auto& why : refused) ctx.logLine(why);
        std::lock_guard lock(resultsMutex_);
        refusals_ = std::move(refused);
    }
    // What a removing run changed in the registry is written out when it ends,
    // also after a stop: the log already says it was removed.
    if (!ctx.isTestRun() && !in_.machine.registry().commit())
        ctx.logLine("The registry changes could not be written to the hive files.");
    if (stop.stop_requested()) return;

    ctx.logLine(separatorLine());
    ctx.logLine(totalsLine(ctx.isTestRun(), ctx.TotalCount, ctx.TotalBytes));
    if (ctx.ScheduledAtRestart > 0)
        ctx.logLine(std::to_string(ctx.ScheduledAtRestart) +
                    (ctx.ScheduledAtRestart == 1 ? " file is" : " files are") +
                    " in use and will be deleted at the next restart.");
    ctx.logLine(separatorLine());
    completed_.store(true);
    post(WM_CLEAN_DONE, ctx.TotalCount);
}

}  // namespace brisko
