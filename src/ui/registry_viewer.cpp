#include "ui/registry_viewer.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>

#include "base/text.h"
#include "core/machine/machine.h"
#include "core/machine/reg_type_name.h"
#include "core/machine/registry_key.h"
#include "core/messages.h"
#include "ui/qt_text.h"

namespace brisko {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kFilledRole = Qt::UserRole + 2;
constexpr RootKey kRoots[] = {RootKey::ClassesRoot, RootKey::CurrentUser, RootKey::LocalMachine,
                              RootKey::Users, RootKey::CurrentConfig};
// Long data is cut for the list; the registry keeps all of it.
constexpr size_t kShownBytes = 512;

QString typeName(uint32_t t) {
    std::string_view name = regTypeName(t);
    return name.empty() ? QStringLiteral("0x%1").arg(t, 0, 16) : qs(name);
}

}  // namespace

QString registryValueText(uint32_t type, const std::vector<uint8_t>& data) {
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && data.size() % 2 == 0)
        return qs(utf16leToUtf8(data));
    if (type == REG_MULTI_SZ) {
        QStringList items;
        for (const auto& s : splitMultiString(data)) items << qs(s);
        return items.join(QLatin1Char(' '));
    }
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t v = data[0] | (uint32_t(data[1]) << 8) | (uint32_t(data[2]) << 16) |
                     (uint32_t(data[3]) << 24);
        return QStringLiteral("0x%1 (%2)").arg(v, 8, 16, QLatin1Char('0')).arg(v);
    }
    if (type == REG_QWORD && data.size() == 8) {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | data[size_t(i)];
        return QStringLiteral("0x%1 (%2)").arg(v, 16, 16, QLatin1Char('0')).arg(v);
    }
    if (data.empty()) return QStringLiteral("(zero-length binary value)");
    QString out;
    for (size_t i = 0; i < data.size() && i < kShownBytes; ++i)
        out += QStringLiteral("%1 ").arg(data[i], 2, 16, QLatin1Char('0'));
    if (data.size() > kShownBytes) out += QStringLiteral("...");
    return out.trimmed();
}

TfrmRegistryViewer::TfrmRegistryViewer(Machine& machine, QWidget* parent)
    : QDialog(parent, Qt::Window), machine_(machine) {
    setObjectName(QStringLiteral("frmRegistryViewer"));
    setWindowTitle(QStringLiteral("Registry Viewer - ") + qs(kProgramTitle));
    resize(900, 560);
    auto* split = new QSplitter(this);
    tvKeys_ = new QTreeWidget(split);
    tvKeys_->setObjectName(QStringLiteral("tvKeys"));
    tvKeys_->setHeaderLabel(QStringLiteral("Computer"));
    lvValues_ = new QTreeWidget(split);
    lvValues_->setObjectName(QStringLiteral("lvValues"));
    lvValues_->setHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Data")});
    lvValues_->setRootIsDecorated(false);
    lvValues_->header()->setStretchLastSection(true);
    split->setStretchFactor(1, 1);
    split->setSizes({320, 580});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(split);

    for (RootKey root : kRoots) {
        auto* item = new QTreeWidgetItem(tvKeys_, {qs(rootName(root))});
        item->setData(0, kPathRole, qs(rootName(root)));
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    connect(tvKeys_, &QTreeWidget::itemExpanded, this, &TfrmRegistryViewer::fillChildren);
    connect(tvKeys_, &QTreeWidget::currentItemChanged, this, &TfrmRegistryViewer::showValues);
}

void TfrmRegistryViewer::fillChildren(QTreeWidgetItem* item) {
    if (item->data(0, kFilledRole).toBool()) return;
    item->setData(0, kFilledRole, true);
    const std::string path = item->data(0, kPathRole).toString().toUtf8().toStdString();
    auto key = openFullPath(machine_.registry(), path, KeyAccess::Read);
    if (!key) return;
    for (const auto& name : key->subkeyNames()) {
        auto* child = new QTreeWidgetItem(item, {qs(name)});
        child->setData(0, kPathRole, qs(path + "\\" + name));
        auto sub = key->openSubkey(name, KeyAccess::Read);
        child->setChildIndicatorPolicy(sub && sub->info().subkeys
                                           ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
    if (item->childCount() == 0)
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

std::string TfrmRegistryViewer::currentKey() const {
    auto* item = tvKeys_->currentItem();
    return item ? item->data(0, kPathRole).toString().toUtf8().toStdString() : std::string();
}

void TfrmRegistryViewer::showValues() {
    lvValues_->clear();
    auto key = openFullPath(machine_.registry(), currentKey(), KeyAccess::Read);
    if (!key) return;
    bool hasDefault = false;
    for (const auto& name : key->valueNames()) {
        auto v = key->value(name);
        if (!v) continue;
        if (name.empty()) hasDefault = true;
        auto* item = new QTreeWidgetItem(
            lvValues_, {name.empty() ? QStringLiteral("(Default)") : qs(name), typeName(v->type),
                        registryValueText(v->type, v->data)});
        item->setData(0, kPathRole, qs(name));
    }
    if (!hasDefault) {
        auto* item = new QTreeWidgetItem(
            {QStringLiteral("(Default)"), typeName(REG_SZ), QStringLiteral("(value not set)")});
        lvValues_->insertTopLevelItem(0, item);
    }
    lvValues_->resizeColumnToContents(0);
}

bool TfrmRegistryViewer::navigate(std::string_view fullKey, std::string_view valueName) {
    auto parts = split(fullKey, '\\');
    if (parts.empty()) return false;
    QTreeWidgetItem* at = nullptr;
    for (int i = 0; i < tvKeys_->topLevelItemCount(); ++i)
        if (equalsNoCase(tvKeys_->topLevelItem(i)->text(0).toStdString(), parts[0]))
            at = tvKeys_->topLevelItem(i);
    for (size_t p = 1; at && p < parts.size(); ++p) {
        if (parts[p].empty()) continue;
        at->setExpanded(true);
        fillChildren(at);
        QTreeWidgetItem* next = nullptr;
        for (int c = 0; c < at->childCount() && !next; ++c)
            if (equalsNoCase(at->child(c)->text(0).toUtf8().toStdString(), parts[p]))
                next = at->child(c);
        at = next;
    }
    if (!at) return false;
    tvKeys_->setCurrentItem(at);
    tvKeys_->scrollToItem(at);
    if (!valueName.empty())
        for (int i = 0; i < lvValues_->topLevelItemCount(); ++i) {
            auto* item = lvValues_->topLevelItem(i);
            if (item->data(0, kPathRole).toString().toUtf8().toStdString() == valueName) {
                lvValues_->setCurrentItem(item);
                lvValues_->scrollToItem(item);
            }
        }
    return true;
}

}  // namespace brisko
