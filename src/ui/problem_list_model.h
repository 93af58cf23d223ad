#pragma once
// The registry problem list as an item model: three columns ("Problem",
// "Data", "Registry key") with a check box in the first. The rows live in
// ScanRun; the model reads them there on demand, so a list of 50,000 rows
// costs the view only the rows it paints. The model keeps nothing but the row
// count the view knows, and sync() brings that up to date.
#include <QAbstractTableModel>
#include <optional>

#include "registry/registry_problem.h"

namespace brisko {

class ScanRun;

class ProblemListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { ColProblem = 0, ColData = 1, ColKey = 2, ColumnCount = 3 };

    explicit ProblemListModel(QObject* parent = nullptr);

    // The run whose rows are shown (not owned); nullptr shows an empty list.
    void setRun(ScanRun* run);

    // Makes the view agree with the run's rows. While rows are only appended
    // (a scan in progress) the new ones are inserted at the end; after rows
    // were removed or replaced, pass reset so the view starts over.
    void sync(bool reset);
    // The number of rows the view knows.
    int shownRows() const { return shown_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    const RegistryProblem* rowAt(int row) const;

    ScanRun* run_ = nullptr;
    int shown_ = 0;
    // The view asks for several roles and columns of one row in a row; one
    // copy serves them all until the next sync or change.
    mutable std::optional<std::pair<int, RegistryProblem>> cache_;
};

}  // namespace brisko
