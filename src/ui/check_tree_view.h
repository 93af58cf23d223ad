#pragma once
// A QTreeWidget that shows a CheckTree. The CheckTree stays the source of
// truth: a click on a check box runs the tree's check rules on the model and
// the view then shows the result; expanding or collapsing a node is written
// back to the model at once, so the settings can be saved from it any time.
#include <QIcon>
#include <QStyle>
#include <QTreeWidget>
#include <functional>
#include <unordered_map>

#include "core/check_tree.h"

namespace brisko {

class CheckTreeView : public QTreeWidget {
    Q_OBJECT

  public:
    explicit CheckTreeView(QWidget* parent = nullptr);

    // Shows tree (not owned; it must outlive the view or be replaced first).
    void setTree(CheckTree* tree);
    CheckTree* tree() const { return tree_; }

    // After nodes were added or removed in the model.
    void rebuild();
    // After check or expansion states were changed in the model.
    void refreshChecks();
    void refreshExpansion();

    // Every node shown expanded, and the user cannot collapse any.
    void setAlwaysExpanded(bool on);
    bool alwaysExpanded() const { return alwaysExpanded_; }

    // The icon of a node; by default folders for groups and a file for items.
    void setIconProvider(std::function<QIcon(const CheckNode&)> provider);
    // The style's icon of that kind, fetched once per style: on Windows each
    // fetch asks the shell for its stock icon in every size, and a tree shows
    // the same few icons on every row.
    QIcon standardIcon(QStyle::StandardPixmap kind) const;

    QTreeWidgetItem* itemFor(const CheckNode* node) const;
    CheckNode* nodeFor(const QTreeWidgetItem* item) const;

    // What a click on the node's check box does.
    void toggleNode(CheckNode& node);
    // The check box area of an item, in viewport coordinates.
    QRect checkBoxRect(const QTreeWidgetItem* item) const;

  signals:
    // The user changed a check box; the rules have run and the view shows them.
    void checkChanged(brisko::CheckNode* node);
    // A press on a node outside its check box (the label or icon).
    void labelPressed(brisko::CheckNode* node);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void addItems(QTreeWidgetItem* parentItem, CheckNode& node);
    void onItemChanged(QTreeWidgetItem* item, int column);
    void onExpansion(QTreeWidgetItem* item, bool expanded);
    QIcon iconOf(const CheckNode& node) const;

    CheckTree* tree_ = nullptr;
    std::unordered_map<const CheckNode*, QTreeWidgetItem*> items_;
    std::function<QIcon(const CheckNode&)> iconProvider_;
    mutable std::unordered_map<int, QIcon> standardIcons_;
    bool alwaysExpanded_ = false;
    int updating_ = 0;  // > 0 while the view itself changes items
};

}  // namespace brisko
