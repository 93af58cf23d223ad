#pragma once
// The clean log as the Cleaner pane shows it: a list model that takes lines in
// batches, and the sink the clean worker writes into. A run can log a line
// per file of a large cache, so the worker never waits for the UI thread: its
// lines queue up under a lock and the UI thread moves whatever has gathered
// into the model in one insertion. The order of the lines is the order of the
// worker's calls.
#include <QAbstractListModel>
#include <QFont>
#include <QPointer>
#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "cleaner/clean_log.h"

namespace brisko {

class CleanLogModel : public QAbstractListModel {
    Q_OBJECT

  public:
    explicit CleanLogModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void appendLines(std::vector<std::string> lines);
    void clear();
    const std::vector<std::string>& lines() const { return lines_; }

    // Lines are measured in this font as they arrive, so the widest one is
    // known at the end of a run without walking the whole log.
    void setFont(const QFont& font);
    int widestLineWidth() const { return widest_; }
    int rowHeight() const { return rowHeight_; }
    // Every row has this width, so the view can lay out rows without asking
    // each one (and its horizontal extent is this width).
    void setItemWidth(int width);
    int itemWidth() const { return itemWidth_; }

  private:
    // Sum of the characters' advances: shaping every line would cost more
    // than the run that wrote it, and a scroll extent needs no kerning.
    int lineWidth(const std::string& line);

    std::vector<std::string> lines_;
    QFont font_;
    std::array<int, 128> asciiAdvance_{};
    std::unordered_map<char32_t, int> advance_;
    int widest_ = 0;
    int rowHeight_ = 16;
    int itemWidth_ = 100;
};

class QtCleanLog : public CleanLogSink {
  public:
    // model lives on the UI thread; onScroll runs there after a flush that
    // follows a scrollToEnd().
    QtCleanLog(CleanLogModel& model, std::function<void()> onScroll);

    // From any thread.
    void addLine(std::string_view line) override;
    void scrollToEnd() override;

    // UI thread: moves the queued lines into the model.
    void flush();
    // UI thread: drops queued lines (the log is being cleared).
    void discardPending();
    size_t pending() const;

  private:
    void postFlushLocked();

    QPointer<CleanLogModel> model_;
    std::function<void()> onScroll_;
    mutable std::mutex mutex_;
    std::vector<std::string> pending_;
    bool flushPosted_ = false;
    std::atomic<bool> scrollWanted_{false};
};

}  // namespace brisko
