// brisko custom: the "<New List>" section of Custom.dat, edited with the
// rules of the Custom Lists dialogs. The list is cleaned as the item
// "Custom Lists - <New List>" (brisko test / clean).
#include "app/cli/custom_commands.h"

#include <iostream>

#include "base/text.h"
#include "cleaner/items/custom_list.h"

namespace brisko::cli {

namespace {

nlohmann::json listJson(const std::vector<std::string>& rows) {
    nlohmann::json items = nlohmann::json::array();
    int index = 0;
    for (const auto& [key, entry] : numberCustomRows(rows))
        items.push_back({{"index", ++index},
                         {"key", key},
                         {"entry", entry},
                         {"kind", isRegistryRow(entry) ? "registry" : "file"}});
    return items;
}

void print(CliContext& ctx, const std::vector<std::string>& rows) {
    if (ctx.json) {
        ctx.printJson({{"file", customListPath(ctx.machine())}, {"entries", listJson(rows)}});
        return;
    }
    if (rows.empty()) {
        std::cout << "The custom list is empty.\n";
        return;
    }
    int index = 0;
    for (const auto& [key, entry] : numberCustomRows(rows))
        std::cout << ++index << ". " << key << "=" << entry << "\n";
}

void save(CliContext& ctx, const std::vector<std::string>& rows) {
    if (!saveCustomList(ctx.machine(), rows))
        throw CliError{kExitFailure, "could not write " + customListPath(ctx.machine())};
}

int runAdd(CliContext& ctx, const std::vector<std::string>& entries) {
    auto& m = ctx.machine();
    auto rows = loadCustomList(m);
    for (const auto& e : entries) {
        const std::string entry(trim(e));
        if (auto why = refuseNewListEntry(m, entry)) throw CliError{kExitUsage, *why};
        rows.push_back(entry);
    }
    save(ctx, rows);
    print(ctx, rows);
    return kExitOk;
}

int runRemove(CliContext& ctx, const std::vector<std::string>& which) {
    auto& m = ctx.machine();
    auto rows = loadCustomList(m);
    std::vector<bool> drop(rows.size(), false);
    for (const auto& w : which) {
        const std::string t(trim(w));
        bool found = false;
        if (!t.empty() && t.find_first_not_of("0123456789") == std::string::npos) {
            const size_t n = t.size() > 9 ? 0 : std::stoul(t);
            if (n >= 1 && n <= rows.size()) {
                drop[n - 1] = true;
                found = true;
            }
        } else {
            for (size_t i = 0; i < rows.size() && !found; ++i)
                if (!drop[i] && rows[i] == t) found = drop[i] = true;
        }
        if (!found)
            throw CliError{kExitUsage,
                           "the custom list has no entry " + t + " (see `brisko custom list`)"};
    }
    std::vector<std::string> kept;
    for (size_t i = 0; i < rows.size(); ++i)
        if (!drop[i]) kept.push_back(rows[i]);
    if (kept.empty())
        throw CliError{kExitUsage,
                       "the custom list cannot be left empty, as in the program's editor; "
                       "uncheck \"Custom Lists - <New List>\" to stop cleaning it"};
    save(ctx, kept);
    print(ctx, kept);
    return kExitOk;
}

}  // namespace

void addCustomCommands(CLI::App& app, CliContext& ctx) {
    auto* custom = app.add_subcommand(
        "custom", "Edit the custom clean list (\"Custom Lists - <New List>\" in Custom.dat)");
    custom->require_subcommand(1);

    auto* list = custom->add_subcommand("list", "Show the entries of the custom list");
    setRunner(list, [&ctx] {
        print(ctx, loadCustomList(ctx.machine()));
        return kExitOk;
    });

    auto entries = std::make_shared<std::vector<std::string>>();
    auto* add = custom->add_subcommand(
        "add",
        "Add entries: FOLDER (delete the folder), FOLDER,*.* (empty it), FOLDER,MASK or "
        "FOLDER,FILE; KEY (delete the key), KEY, (its values and subkeys) or KEY,VALUE. "
        "Folders may begin with %ProgramFiles%, %windir%, {Local AppData}, {Current AppData}, "
        "{Common AppData} or {C: Drive}; keys with HKEY_CURRENT_USER and the other roots "
        "written in full");
    add->add_option("entries", *entries, "Entries to add, in order")->required();
    setRunner(add, [&ctx, entries] { return runAdd(ctx, *entries); });

    auto which = std::make_shared<std::vector<std::string>>();
    auto* remove = custom->add_subcommand(
        "remove", "Remove entries by their number in `brisko custom list` or by their text");
    remove->add_option("entries", *which, "Numbers or entry texts")->required();
    setRunner(remove, [&ctx, which] { return runRemove(ctx, *which); });
}

}  // namespace brisko::cli
