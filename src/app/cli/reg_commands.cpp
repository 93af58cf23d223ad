// brisko reg query|export|import: the machine's registry by full key path.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/cli/commands.h"
#include "base/text.h"
#include "core/machine/reg_file.h"
#include "core/machine/reg_type_name.h"
#include "core/machine/registry_key.h"
#include "registry/backup_store.h"
#ifndef _WIN32
#include "core/machine/image/image_registry.h"
#include "hive/hive.h"
#endif

namespace brisko::cli {

#ifndef _WIN32
using namespace hive;
#endif

namespace {

#ifndef _WIN32
// Where a key lies below \REGISTRY: the hives an export of it may read from
// are those mounted at, above or below that path. HKEY_CLASSES_ROOT draws on
// hives of both roots: empty, every hive.
std::string mountPathOf(const std::string& key) {
    const std::string upper = upperCase(key);
    size_t slash = upper.find('\\');
    std::string root = upper.substr(0, slash),
                rest = slash == std::string::npos ? "" : upper.substr(slash);
    if (root == "HKEY_LOCAL_MACHINE" || root == "HKLM") return "\\REGISTRY\\MACHINE" + rest;
    if (root == "HKEY_USERS" || root == "HKU") return "\\REGISTRY\\USER" + rest;
    if (root == "HKEY_CURRENT_USER" || root == "HKCU") return "\\REGISTRY\\USER";
    if (root == "HKEY_CURRENT_CONFIG" || root == "HKCC") return "\\REGISTRY\\MACHINE\\SYSTEM";
    return {};
}

bool samePlace(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    return startsWithNoCase(b, a) && (b.size() == a.size() || b[a.size()] == '\\');
}

// An export holds what could be read: say so for a damaged hive it reads from
// (one whose logs could not be applied counts as damaged), so that nobody
// takes the file for the whole key.
void warnDamagedSources(CliContext& ctx, const std::string& key, bool all) {
    std::string place = all ? std::string() : mountPathOf(key);
    for (const auto& h : ctx.machine().imageRegistry().hiveStatus()) {
        if (h.loaded && h.state.health != HiveHealth::Damaged) continue;
        if (!place.empty() && !samePlace(place, h.mount.mountPath)) continue;
        std::cerr << "brisko: warning: the hive " << h.mount.windowsFile << " is damaged ("
                  << h.state.reason << "); the export holds only what could be read from it.\n";
    }
}
#else
void warnDamagedSources(CliContext&, const std::string&, bool) {}
#endif
std::string typeName(uint32_t t) {
    std::string_view name = regTypeName(t);
    return name.empty() ? "REG_UNKNOWN(" + std::to_string(t) + ")" : std::string(name);
}

std::string hexBytes(const std::vector<uint8_t>& d) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (auto b : d) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

// The data as `reg query` shows it.
std::string dataText(const RegValue& v) {
    switch (v.type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return utf16leToUtf8(v.data);
        case REG_MULTI_SZ: {
            std::string s;
            auto items = splitMultiString(v.data);
            for (size_t i = 0; i < items.size(); ++i) s += (i ? "\\0" : "") + items[i];
            return s;
        }
        case REG_DWORD:
            if (v.data.size() >= 4) {
                uint32_t x;
                std::memcpy(&x, v.data.data(), 4);
                std::ostringstream o;
                o << "0x" << std::hex << x;
                return o.str();
            }
            break;
        case REG_QWORD:
            if (v.data.size() >= 8) {
                uint64_t x;
                std::memcpy(&x, v.data.data(), 8);
                std::ostringstream o;
                o << "0x" << std::hex << x;
                return o.str();
            }
            break;
    }
    return hexBytes(v.data);
}

std::unique_ptr<KeyHandle> openOrFail(CliContext& ctx, const std::string& key) {
    if (!parseRoot(key))
        throw CliError{kExitUsage, "\"" + key +
                                       "\" does not start with a root key (HKEY_LOCAL_MACHINE, "
                                       "HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS, "
                                       "HKEY_CURRENT_CONFIG)."};
    auto k = openFullPath(ctx.machine().registry(), key, KeyAccess::Read);
    if (!k) throw CliError{kExitFailure, "The key " + key + " does not exist on this machine."};
    return k;
}

int runQuery(CliContext& ctx, const std::string& key) {
    auto k = openOrFail(ctx, key);
    auto info = k->info();
    nlohmann::json j{
        {"key", key}, {"values", nlohmann::json::array()}, {"subkeys", k->subkeyNames()}};
    for (const auto& name : k->valueNames()) {
        auto v = k->value(name);
        if (!v) continue;
        j["values"].push_back(
            {{"name", name}, {"type", typeName(v->type)}, {"data", dataText(*v)}});
    }
    if (ctx.json) {
        ctx.printJson(j);
        return kExitOk;
    }
    std::cout << key << "\n";
    for (const auto& v : j["values"])
        std::cout << "    "
                  << (v["name"].get<std::string>().empty() ? "(Default)"
                                                           : v["name"].get<std::string>())
                  << "    " << v["type"].get<std::string>() << "    "
                  << v["data"].get<std::string>() << "\n";
    if (!j["values"].empty()) std::cout << "\n";
    for (const auto& s : j["subkeys"]) std::cout << key << "\\" << s.get<std::string>() << "\n";
    (void)info;
    return kExitOk;
}

int runExport(CliContext& ctx, std::string key, std::string file, bool regedit4, bool all) {
    auto format = regedit4 ? RegFileFormat::Regedit4 : RegFileFormat::Version5;
    std::string bytes;
    if (all) {
        // The whole registry, as the registry editor's full export: every hive once.
        if (file.empty()) file = key;
        if (file.empty()) throw CliError{kExitUsage, "reg export --all needs the FILE to write."};
        key = "the whole registry";
        std::string text = exportWholeRegistry(ctx.machine().registry(), format);
        bytes = encodeRegFileBytes(text, format);
    } else {
        if (file.empty()) throw CliError{kExitUsage, "reg export needs KEY and FILE."};
        openOrFail(ctx, key);
        auto text = exportRegText(ctx.machine().registry(), key, format);
        if (!text)
            throw CliError{kExitFailure, "The key " + key + " does not exist on this machine."};
        bytes = encodeRegFileBytes(*text, format);
    }
    warnDamagedSources(ctx, key, all);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) throw CliError{kExitFailure, "Cannot write " + file + "."};
    if (ctx.json)
        ctx.printJson({{"key", key}, {"file", file}, {"bytes", bytes.size()}});
    else
        std::cout << "Exported " << key << " to " << file << "\n";
    return kExitOk;
}

int runImport(CliContext& ctx, const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw CliError{kExitBadInput, "Cannot read " + file + "."};
    std::stringstream ss;
    ss << in.rdbuf();
    RegFileParse parsed;
    try {
        parsed = parseRegText(ss.str());
    } catch (const RegFileError& e) {
        throw CliError{kExitBadInput, file + ": " + e.message + " Nothing was imported."};
    }
    auto& registry = ctx.machineForWriting().registry();
    size_t failed = applyRegOps(registry, parsed.ops);
    // All or nothing: an import that stops half-way across several hives
    // would leave the machine in a state nobody asked for.
    if (failed || !registry.refusedEdits().empty()) {
        std::string why = importFailureText(registry, file, failed, parsed.ops.size(), "imported");
        ctx.discard();
        throw CliError{kExitFailure, why};
    }
    ctx.commit();
    // A backup of a registry fix names the copies of the files the fix
    // deleted: they come back with it.
    std::vector<std::string> problems;
    auto folder = std::filesystem::path(file).parent_path();
    size_t files = restoreFileCopies(
        ctx.machine().files(), fileCopyNotes(ss.str()),
        [&](const std::string& copy) -> std::optional<std::string> {
            std::string rel = copy;
            std::replace(rel.begin(), rel.end(), '\\', '/');
            std::ifstream c(folder / rel, std::ios::binary);
            if (!c) return std::nullopt;
            std::stringstream bytes;
            bytes << c.rdbuf();
            return bytes.str();
        },
        &problems);
    for (const auto& p : problems) std::cerr << "brisko: " << p << "\n";
    if (ctx.json)
        ctx.printJson({{"file", file},
                       {"operations", parsed.ops.size()},
                       {"failed", failed},
                       {"filesRestored", files}});
    else
        std::cout << "Imported " << file << ": " << parsed.ops.size() << " of " << parsed.ops.size()
                  << " operations carried out"
                  << (files ? ", " + std::to_string(files) + " files put back" : "") << ".\n";
    return problems.empty() ? kExitOk : kExitFailure;
}
}  // namespace

void addRegCommands(CLI::App& app, CliContext& ctx) {
    auto* reg = app.add_subcommand("reg", "Read, export and import registry keys");
    reg->require_subcommand(1);
    static std::string key, file;
    static bool regedit4 = false;

    auto* query = reg->add_subcommand("query", "Show a key's values and subkeys");
    query->add_option("KEY", key, "Full key path, e.g. HKEY_CURRENT_USER\\Software")->required();
    setRunner(query, [&ctx] { return runQuery(ctx, key); });

    auto* exp = reg->add_subcommand("export", "Write a key and its subtree to a .reg file");
    static bool all = false;
    exp->add_option("KEY", key, "Full key path (with --all: the file to write)");
    exp->add_option("FILE", file, ".reg file to write");
    exp->add_flag("--regedit4", regedit4, "Write the REGEDIT4 format instead of version 5.00");
    exp->add_flag("--all", all, "Export the whole registry (a full backup)");
    setRunner(exp, [&ctx] {
        if (!all && (key.empty() || file.empty()))
            throw CliError{kExitUsage, "reg export needs KEY and FILE (or --all FILE)."};
        return runExport(ctx, key, file, regedit4, all);
    });

    auto* imp = reg->add_subcommand("import", "Carry out a .reg file on the machine's registry");
    imp->add_option("FILE", file, ".reg file to read")->required()->check(CLI::ExistingFile);
    setRunner(imp, [&ctx] { return runImport(ctx, file); });
}

}  // namespace brisko::cli
