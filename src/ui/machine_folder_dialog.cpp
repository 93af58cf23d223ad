#include "ui/machine_folder_dialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/text.h"
#include "core/machine/machine.h"
#include "ui/qt_text.h"

namespace brisko {

namespace {
constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kFilledRole = Qt::UserRole + 2;

}  // namespace

MachineFolderDialog::MachineFolderDialog(Machine& machine, const QString& title,
                                         const std::string& start, QWidget* parent)
    : QDialog(parent), machine_(machine) {
    setWindowTitle(title);
    setObjectName(QStringLiteral("MachineFolderDialog"));
    auto* layout = new QVBoxLayout(this);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("tvFolders"));
    tree_->setHeaderHidden(true);
    tree_->setUniformRowHeights(true);
    layout->addWidget(tree_, 1);
    ePath_ = new QLineEdit(this);
    ePath_->setObjectName(QStringLiteral("eFolder"));
    layout->addWidget(ePath_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(420, 460);

    const QIcon driveIcon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const DriveInfo& d : machine_.files().drives()) {
        if (d.kind != DriveKind::Fixed && d.kind != DriveKind::Removable) continue;
        std::string root = std::string(1, d.letter) + ":\\";
        auto* item = new QTreeWidgetItem(tree_, {qs(root)});
        item->setIcon(0, driveIcon);
        item->setData(0, kPathRole, qs(root));
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    connect(tree_, &QTreeWidget::itemExpanded, this, &MachineFolderDialog::fill);
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item) ePath_->setText(item->data(0, kPathRole).toString());
    });
    if (QTreeWidgetItem* item = select(start)) tree_->setCurrentItem(item);
    ePath_->setText(qs(start));
    tree_->setFocus();
}

void MachineFolderDialog::fill(QTreeWidgetItem* item) {
    if (item->data(0, kFilledRole).toBool()) return;
    item->setData(0, kFilledRole, true);
    std::string path = item->data(0, kPathRole).toString().toStdString();
    auto entries = machine_.files().findFiles(includeTrailingBackslash(path), "*");
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    if (entries) {
        for (const FileEntry& e : *entries) {
            if (!e.isDirectory() || e.isLink() || e.name == "." || e.name == "..") continue;
            auto* child = new QTreeWidgetItem(item, {qs(e.name)});
            child->setIcon(0, folderIcon);
            child->setData(0, kPathRole, qs(includeTrailingBackslash(path) + e.name));
            child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        }
    }
    if (item->childCount() == 0) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

QTreeWidgetItem* MachineFolderDialog::select(const std::string& path) {
    auto parts = split(excludeTrailingBackslash(path), '\\');
    if (parts.empty()) return nullptr;
    QTreeWidgetItem* at = nullptr;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        if (equalsNoCase(tree_->topLevelItem(i)->text(0).toStdString(), parts[0] + "\\"))
            at = tree_->topLevelItem(i);
    for (size_t p = 1; at && p < parts.size(); ++p) {
        fill(at);
        at->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < at->childCount() && !next; ++i)
            if (equalsNoCase(at->child(i)->text(0).toStdString(), parts[p])) next = at->child(i);
        if (!next) break;
        at = next;
    }
    return at;
}

std::string MachineFolderDialog::folder() const {
    return excludeTrailingBackslash(ePath_->text().trimmed().toStdString());
}

}  // namespace brisko
