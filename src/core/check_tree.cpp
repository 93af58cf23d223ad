#include "core/check_tree.h"

namespace brisko {

namespace {

void walk(CheckNode& node, const std::function<void(CheckNode&)>& fn) {
    fn(node);
    for (auto& c : node.children) walk(*c, fn);
}

void setDeep(CheckNode& node, bool checked) {
    node.checked = checked;
    for (auto& c : node.children) setDeep(*c, checked);
}

}  // namespace

int CheckNode::level() const {
    int n = 0;
    for (const CheckNode* p = parent; p; p = p->parent) ++n;
    return n;
}

CheckNode& CheckTree::addTopLevel(std::string caption, int imageIndex, int data) {
    auto node = std::make_unique<CheckNode>();
    node->caption = std::move(caption);
    node->imageIndex = imageIndex;
    node->data = data;
    roots_.push_back(std::move(node));
    return *roots_.back();
}

CheckNode& CheckTree::addChild(CheckNode& parent, std::string caption, int imageIndex, int data) {
    auto node = std::make_unique<CheckNode>();
    node->caption = std::move(caption);
    node->imageIndex = imageIndex;
    node->data = data;
    node->parent = &parent;
    parent.children.push_back(std::move(node));
    return *parent.children.back();
}

void CheckTree::forEach(const std::function<void(CheckNode&)>& fn) const {
    for (auto& r : roots_) walk(*r, fn);
}

std::vector<CheckNode*> CheckTree::nodes() const {
    std::vector<CheckNode*> out;
    forEach([&](CheckNode& n) { out.push_back(&n); });
    return out;
}

CheckNode* CheckTree::topLevelByCaption(std::string_view caption) const {
    for (auto& r : roots_)
        if (r->caption == caption) return r.get();
    return nullptr;
}

CheckNode* CheckTree::findByLogCaption(std::string_view text) const {
    for (CheckNode* n : nodes())
        if (logCaption(*n) == text) return n;
    return nullptr;
}

CheckNode* CheckTree::findByImageIndex(int imageIndex) const {
    for (CheckNode* n : nodes())
        if (n->imageIndex == imageIndex) return n;
    return nullptr;
}

void CheckTree::uncheckAll() {
    forEach([](CheckNode& n) { n.checked = false; });
}

void CheckTree::setAllExpanded(bool expanded) {
    forEach([expanded](CheckNode& n) { n.expanded = expanded; });
}

std::string logCaption(const CheckNode& node) {
    if (!node.parent) return node.caption;
    return node.parent->caption + " - " + node.caption;
}

void setChecked(CheckNode& node, bool checked) {
    setDeep(node, checked);
    for (CheckNode* p = node.parent; p; p = p->parent) {
        bool any = false;
        for (auto& c : p->children) any = any || c->checked;
        p->checked = any;
    }
}

void setExpandedDeep(CheckNode& node, bool expanded) {
    walk(node, [expanded](CheckNode& n) { n.expanded = expanded; });
}

void applyExpansion(const ExpandArray& expand, CheckTree& sectionTree, CheckTree& cleanTree) {
    for (CheckTree* tree : {&sectionTree, &cleanTree})
        for (auto& r : tree->topLevel())
            if (r->imageIndex >= 1 && r->imageIndex <= kExpandSlots && expand[r->imageIndex])
                setExpandedDeep(*r, true);
}

void copyExpansion(const CheckTree& sectionTree, const CheckTree& cleanTree, ExpandArray& expand) {
    for (const CheckTree* tree : {&sectionTree, &cleanTree})
        for (auto& r : tree->topLevel())
            if (r->imageIndex >= 1 && r->imageIndex <= kExpandSlots)
                expand[r->imageIndex] = r->expanded;
}

void applyNodeChecks(const SectionCheckArray& checks, CheckTree& tree) {
    tree.forEach([&](CheckNode& n) {
        if (n.imageIndex >= 1 && n.imageIndex <= kSectionSlots) n.checked = checks[n.imageIndex];
    });
}

void copyNodeChecks(const CheckTree& tree, SectionCheckArray& checks) {
    tree.forEach([&](CheckNode& n) {
        if (n.imageIndex >= 1 && n.imageIndex <= kSectionSlots) checks[n.imageIndex] = n.checked;
    });
}

}  // namespace brisko
