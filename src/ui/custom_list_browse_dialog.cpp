#include "ui/custom_list_browse_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "base/text.h"
#include "core/machine/file_api.h"
#include "core/machine/machine.h"
#include "ui/qt_text.h"

namespace brisko {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;

}  // namespace

TfrmBrowseFolder::TfrmBrowseFolder(Machine& machine, QWidget* parent)
    : QDialog(parent), machine_(machine) {
    setObjectName(QStringLiteral("TfrmBrowseFolder"));
    setWindowTitle(QStringLiteral("Please select the directory to add"));
    setModal(true);
    resize(420, 460);

    tvFolders_ = new QTreeWidget(this);
    tvFolders_->setObjectName(QStringLiteral("tvFolders"));
    tvFolders_->setHeaderHidden(true);
    tvFolders_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (const auto& d : machine_.files().drives()) {
        if (d.kind != DriveKind::Fixed && d.kind != DriveKind::Removable) continue;
        const std::string root{d.letter, ':', '\\'};
        auto* item = new QTreeWidgetItem(tvFolders_, {qs(root.substr(0, 2))});
        item->setData(0, kPathRole, qs(root));
        item->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    connect(tvFolders_, &QTreeWidget::itemExpanded, this, &TfrmBrowseFolder::fill);

    bOK_ = new QPushButton(QStringLiteral("&OK"), this);
    bOK_->setObjectName(QStringLiteral("bOK"));
    bOK_->setDefault(true);
    auto* bCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK_);
    buttons->addWidget(bCancel);
    auto* root = new QVBoxLayout(this);
    root->addWidget(tvFolders_);
    root->addLayout(buttons);

    connect(tvFolders_, &QTreeWidget::currentItemChanged, this,
            [this] { bOK_->setEnabled(!folder().empty()); });
    connect(bOK_, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    bOK_->setEnabled(false);

    // Centred on the screen rather than on the window that opened it.
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmBrowseFolder::fill(QTreeWidgetItem* item) {
    if (!item || item->data(0, kFilledRole).toBool()) return;
    item->setData(0, kFilledRole, true);
    const std::string path = item->data(0, kPathRole).toString().toStdString();
    auto entries = machine_.files().findFiles(path, "*");
    std::vector<FileEntry> folders;
    if (entries)
        for (const auto& e : *entries)
            if (e.isDirectory() && e.name != "." && e.name != "..") folders.push_back(e);
    std::sort(folders.begin(), folders.end(), [](const FileEntry& a, const FileEntry& b) {
        return lowerCase(a.name) < lowerCase(b.name);
    });
    for (const auto& e : folders) {
        auto* child = new QTreeWidgetItem(item, {qs(e.name)});
        child->setData(0, kPathRole, qs(includeTrailingBackslash(path) + e.name));
        child->setIcon(
            0, style()->standardIcon(e.isLink() ? QStyle::SP_FileLinkIcon : QStyle::SP_DirIcon));
        // A link (a junction on a mounted disk) is a place of its own; it is not entered.
        child->setData(0, kFilledRole, e.isLink());
        child->setChildIndicatorPolicy(e.isLink() ? QTreeWidgetItem::DontShowIndicator
                                                  : QTreeWidgetItem::ShowIndicator);
    }
    if (folders.empty()) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

QTreeWidgetItem* TfrmBrowseFolder::childNamed(QTreeWidgetItem* parent, const QString& name) {
    const int n = parent ? parent->childCount() : tvFolders_->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        auto* c = parent ? parent->child(i) : tvFolders_->topLevelItem(i);
        if (c->text(0).compare(name, Qt::CaseInsensitive) == 0) return c;
    }
    return nullptr;
}

void TfrmBrowseFolder::selectFolder(const std::string& folder) {
    const auto parts = split(excludeTrailingBackslash(folder), '\\');
    QTreeWidgetItem* at = nullptr;
    for (const auto& part : parts) {
        if (part.empty()) continue;
        if (at) {
            fill(at);
            at->setExpanded(true);
        }
        auto* next = childNamed(at, qs(part));
        if (!next) break;
        at = next;
    }
    if (at) tvFolders_->setCurrentItem(at);
}

std::string TfrmBrowseFolder::folder() const {
    auto* item = tvFolders_->currentItem();
    if (!item) return {};
    return excludeTrailingBackslash(item->data(0, kPathRole).toString().toStdString());
}

}  // namespace brisko
