#include "ui/check_tree_view.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace brisko {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;

Qt::CheckState stateOf(const CheckNode& node) {
    return node.checked ? Qt::Checked : Qt::Unchecked;
}

}  // namespace

CheckTreeView::CheckTreeView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(true);
    header()->setStretchLastSection(true);
    connect(this, &QTreeWidget::itemChanged, this, &CheckTreeView::onItemChanged);
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { onExpansion(item, true); });
    connect(this, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { onExpansion(item, false); });
}

void CheckTreeView::setTree(CheckTree* tree) {
    tree_ = tree;
    rebuild();
}

void CheckTreeView::setIconProvider(std::function<QIcon(const CheckNode&)> provider) {
    iconProvider_ = std::move(provider);
    rebuild();
}

QIcon CheckTreeView::standardIcon(QStyle::StandardPixmap kind) const {
    auto it = standardIcons_.find(kind);
    if (it == standardIcons_.end())
        it = standardIcons_.emplace(kind, style()->standardIcon(kind)).first;
    return it->second;
}

void CheckTreeView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::StyleChange) standardIcons_.clear();
    QTreeWidget::changeEvent(event);
}

QIcon CheckTreeView::iconOf(const CheckNode& node) const {
    if (iconProvider_) return iconProvider_(node);
    return standardIcon(node.children.empty() && !node.isTopLevel() ? QStyle::SP_FileIcon
                                                                    : QStyle::SP_DirIcon);
}

void CheckTreeView::rebuild() {
    ++updating_;
    clear();
    items_.clear();
    if (tree_) {
        for (auto& root : tree_->topLevel()) addItems(nullptr, *root);
    }
    --updating_;
    refreshExpansion();
}

void CheckTreeView::addItems(QTreeWidgetItem* parentItem, CheckNode& node) {
    auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(this);
    item->setText(0, QString::fromStdString(node.caption));
    item->setIcon(0, iconOf(node));
    // Two-state boxes only: a group shows checked as soon as one item is.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, stateOf(node));
    item->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(&node)));
    items_[&node] = item;
    for (auto& child : node.children) addItems(item, *child);
}

QTreeWidgetItem* CheckTreeView::itemFor(const CheckNode* node) const {
    auto it = items_.find(node);
    return it == items_.end() ? nullptr : it->second;
}

CheckNode* CheckTreeView::nodeFor(const QTreeWidgetItem* item) const {
    if (!item) return nullptr;
    auto* node = reinterpret_cast<CheckNode*>(item->data(0, kNodeRole).value<quintptr>());
    // Only nodes of the tree as last built; a stale item answers nothing.
    return itemFor(node) == item ? node : nullptr;
}

void CheckTreeView::refreshChecks() {
    ++updating_;
    for (auto& [node, item] : items_) {
        if (item->checkState(0) != stateOf(*node)) item->setCheckState(0, stateOf(*node));
    }
    --updating_;
}

void CheckTreeView::refreshExpansion() {
    ++updating_;
    for (auto& [node, item] : items_) {
        bool expand = alwaysExpanded_ || node->expanded;
        if (item->isExpanded() != expand) item->setExpanded(expand);
    }
    --updating_;
}

void CheckTreeView::setAlwaysExpanded(bool on) {
    alwaysExpanded_ = on;
    setItemsExpandable(!on);
    setRootIsDecorated(!on);
    setExpandsOnDoubleClick(!on);
    // No branch arrows for nodes that cannot be collapsed anyway.
    setStyleSheet(on ? QStringLiteral("QTreeView::branch { image: none; border-image: none; }")
                     : QString());
    if (on && tree_) {
        for (auto* node : tree_->nodes()) node->expanded = true;
    }
    refreshExpansion();
}

void CheckTreeView::toggleNode(CheckNode& node) {
    toggleChecked(node);
    refreshChecks();
    emit checkChanged(&node);
}

void CheckTreeView::onItemChanged(QTreeWidgetItem* item, int column) {
    if (updating_ || column != 0) return;
    CheckNode* node = nodeFor(item);
    if (!node) return;
    bool wanted = item->checkState(0) == Qt::Checked;
    if (wanted == node->checked) return;
    setChecked(*node, wanted);
    refreshChecks();
    emit checkChanged(node);
}

void CheckTreeView::onExpansion(QTreeWidgetItem* item, bool expanded) {
    if (updating_) return;
    CheckNode* node = nodeFor(item);
    if (!node) return;
    if (alwaysExpanded_ && !expanded) {
        // Collapsing is refused; put the node back open.
        ++updating_;
        item->setExpanded(true);
        --updating_;
        return;
    }
    node->expanded = expanded;
}

QRect CheckTreeView::checkBoxRect(const QTreeWidgetItem* item) const {
    if (!item) return {};
    QModelIndex index = indexFromItem(item, 0);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.index = index;
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    option.checkState = item->checkState(0);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

void CheckTreeView::mousePressEvent(QMouseEvent* event) {
    QPoint pos = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(pos);
    // Decided before the press is handled: a handler may rebuild the items.
    CheckNode* labelNode = nullptr;
    if (item && event->button() == Qt::LeftButton && !checkBoxRect(item).contains(pos) &&
        visualItemRect(item).contains(pos))  // the branch arrow lies left of it
        labelNode = nodeFor(item);
    QTreeWidget::mousePressEvent(event);
    if (labelNode && tree_) emit labelPressed(labelNode);
}

}  // namespace brisko
