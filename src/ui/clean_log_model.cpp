#include "ui/clean_log_model.h"

#include <QFontMetrics>
#include <QSize>
#include <QTimer>
#include <algorithm>

namespace brisko {

namespace {
constexpr int kFlushDelayMs = 40;
}  // namespace

CleanLogModel::CleanLogModel(QObject* parent) : QAbstractListModel(parent) {
    setFont(QFont());
}

int CleanLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant CleanLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= lines_.size()) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: {
            const std::string& s = lines_[size_t(index.row())];
            return QString::fromUtf8(s.data(), qsizetype(s.size()));
        }
        case Qt::SizeHintRole:
            return QSize(itemWidth_, rowHeight_);
        default:
            return {};
    }
}

void CleanLogModel::setFont(const QFont& font) {
    font_ = font;
    QFontMetrics fm(font_);
    rowHeight_ = fm.height() + 2;
    for (int c = 0; c < 128; ++c) asciiAdvance_[size_t(c)] = fm.horizontalAdvance(QChar(c));
    advance_.clear();
    widest_ = 0;
    for (const auto& l : lines_) widest_ = std::max(widest_, lineWidth(l));
}

int CleanLogModel::lineWidth(const std::string& line) {
    int width = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const auto* end = p + line.size();
    while (p < end) {
        if (*p < 0x80) {
            width += asciiAdvance_[*p++];
            continue;
        }
        // One UTF-8 sequence; a broken one counts as a replacement character.
        int len = *p >= 0xF0 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC0 ? 2 : 1;
        char32_t cp = 0xFFFD;
        if (len > 1 && end - p >= len) {
            cp = *p & (0xFF >> (len + 1));
            for (int i = 1; i < len; ++i) cp = (cp << 6) | (p[i] & 0x3F);
        }
        p += std::min<ptrdiff_t>(len, end - p);
        auto [it, fresh] = advance_.try_emplace(cp, 0);
        if (fresh) it->second = QFontMetrics(font_).horizontalAdvance(QString::fromUcs4(&cp, 1));
        width += it->second;
    }
    return width;
}

void CleanLogModel::appendLines(std::vector<std::string> lines) {
    if (lines.empty()) return;
    for (const auto& l : lines) widest_ = std::max(widest_, lineWidth(l));
    const int first = static_cast<int>(lines_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(lines.size()) - 1);
    if (lines_.empty()) {
        lines_ = std::move(lines);
    } else {
        lines_.insert(lines_.end(), std::make_move_iterator(lines.begin()),
                      std::make_move_iterator(lines.end()));
    }
    endInsertRows();
}

void CleanLogModel::clear() {
    beginResetModel();
    lines_.clear();
    lines_.shrink_to_fit();
    widest_ = 0;
    endResetModel();
}

void CleanLogModel::setItemWidth(int width) {
    width = std::max(width, 1);
    if (width == itemWidth_) return;
    itemWidth_ = width;
    // With uniform item sizes the view takes the first row's size for all.
    if (!lines_.empty()) emit dataChanged(index(0), index(0), {Qt::SizeHintRole});
}

// --------------------------------------------------------------------- sink

QtCleanLog::QtCleanLog(CleanLogModel& model, std::function<void()> onScroll)
    : model_(&model), onScroll_(std::move(onScroll)) {}

void QtCleanLog::addLine(std::string_view line) {
    std::lock_guard lock(mutex_);
    pending_.emplace_back(line);
    postFlushLocked();
}

void QtCleanLog::scrollToEnd() {
    scrollWanted_ = true;
    std::lock_guard lock(mutex_);
    postFlushLocked();
}

void QtCleanLog::postFlushLocked() {
    if (flushPosted_ || !model_) return;
    flushPosted_ = true;
    // Queued to the model's thread (and dropped if the model is gone by then).
    // Lines gather for a moment there, so that a worker writing thousands of
    // lines a second costs the list a few insertions and layouts a second.
    CleanLogModel* model = model_.data();
    QMetaObject::invokeMethod(
        model, [this, model] { QTimer::singleShot(kFlushDelayMs, model, [this] { flush(); }); },
        Qt::QueuedConnection);
}

void QtCleanLog::flush() {
    std::vector<std::string> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(pending_);
        flushPosted_ = false;
    }
    if (model_) model_->appendLines(std::move(batch));
    if (scrollWanted_.exchange(false) && onScroll_) onScroll_();
}

void QtCleanLog::discardPending() {
    std::lock_guard lock(mutex_);
    pending_.clear();
    scrollWanted_ = false;
}

size_t QtCleanLog::pending() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

}  // namespace brisko
