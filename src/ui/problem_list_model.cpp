#include "ui/problem_list_model.h"

#include <algorithm>
#include <climits>

#include "registry/scan_run.h"
#include "ui/qt_text.h"

namespace brisko {

namespace {

int clampRows(size_t n) {
    return int(std::min<size_t>(n, size_t(INT_MAX)));
}

}  // namespace

ProblemListModel::ProblemListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ProblemListModel::setRun(ScanRun* run) {
    beginResetModel();
    run_ = run;
    cache_.reset();
    shown_ = run_ ? clampRows(run_->rowCount()) : 0;
    endResetModel();
}

void ProblemListModel::sync(bool reset) {
    cache_.reset();
    const int now = run_ ? clampRows(run_->rowCount()) : 0;
    if (reset || now < shown_) {
        beginResetModel();
        shown_ = now;
        endResetModel();
        return;
    }
    if (now > shown_) {
        beginInsertRows({}, shown_, now - 1);
        shown_ = now;
        endInsertRows();
    }
    // Checks change in bulk (Select All, of type); the view repaints only what it shows.
    if (shown_ > 0) emit dataChanged(index(0, 0), index(shown_ - 1, ColumnCount - 1));
}

const RegistryProblem* ProblemListModel::rowAt(int row) const {
    if (!run_ || row < 0 || row >= shown_) return nullptr;
    if (!cache_ || cache_->first != row) {
        auto r = run_->row(size_t(row));
        if (!r) return nullptr;  // removed since the last sync; the next sync catches up
        cache_.emplace(row, std::move(*r));
    }
    return &cache_->second;
}

int ProblemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int ProblemListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ProblemListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const RegistryProblem* p = rowAt(index.row());
    if (!p) return {};
    const int col = index.column();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return col == ColProblem ? qs(p->problem)
                   : col == ColData  ? qs(p->data)
                                     : qs(p->keyPath);
        case Qt::CheckStateRole:
            if (col == ColProblem) return p->checked ? Qt::Checked : Qt::Unchecked;
            break;
        default:
            break;
    }
    return {};
}

bool ProblemListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!run_ || !index.isValid() || index.column() != ColProblem || role != Qt::CheckStateRole)
        return false;
    if (index.row() >= shown_) return false;
    cache_.reset();
    const bool checked = value.toInt() == Qt::Checked;
    // The run tells the pane, which syncs the view and the status line.
    run_->setRowChecked(size_t(index.row()), checked);
    cache_.reset();
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags ProblemListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == ColProblem) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ProblemListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case ColProblem:
            return QStringLiteral("Problem");
        case ColData:
            return QStringLiteral("Data");
        case ColKey:
            return QStringLiteral("Registry key");
        default:
            return {};
    }
}

}  // namespace brisko
