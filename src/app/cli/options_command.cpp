#include "app/cli/options_command.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <iostream>
#include <optional>

#include "app/cli/commands.h"
#include "core/ini_file.h"
#include "core/options_edit.h"
#ifndef _WIN32
#include "core/machine/image/image_files.h"
#endif
#include "base/text.h"
#include "core/settings.h"
#include "core/startup.h"

namespace brisko::cli {

namespace {

using nlohmann::json;

// One key of the settings file as the command shows it.
struct Field {
    std::string section;
    std::string key;
    std::function<json(const TOptionsSetting&)> get;
    // Empty for keys the program derives itself (counts, the clean selection,
    // the window): changing them here would be undone or contradicted.
    std::function<void(TOptionsSetting&, const std::string&)> set;
    bool hidden = false;         // accepted for setting, not listed (the next list entry)
    bool screenDefault = false;  // a missing value depends on the screen at start

    std::string name() const { return section + "/" + key; }
};

bool parseBool(const std::string& text, const std::string& what) {
    std::string t = lowerCase(text);
    if (t == "1" || t == "true" || t == "yes" || t == "on") return true;
    if (t == "0" || t == "false" || t == "no" || t == "off") return false;
    throw CliError{kExitUsage, what + " takes 1 or 0 (or true/false), not \"" + text + "\"."};
}

int64_t parseInt(const std::string& text, const std::string& what, int64_t lo, int64_t hi) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi)
        throw CliError{kExitUsage, what + " takes a whole number from " + std::to_string(lo) +
                                       " to " + std::to_string(hi) + ", not \"" + text + "\"."};
    return v;
}

Field boolField(std::string sec, std::string key, bool TOptionsSetting::*m) {
    std::string what = sec + "/" + key;
    return {sec, key, [m](const TOptionsSetting& s) { return json(s.*m); },
            [m, what](TOptionsSetting& s, const std::string& v) { s.*m = parseBool(v, what); }};
}

Field intField(std::string sec, std::string key, int32_t TOptionsSetting::*m) {
    std::string what = sec + "/" + key;
    return {sec, key, [m](const TOptionsSetting& s) { return json(s.*m); },
            [m, what](TOptionsSetting& s, const std::string& v) {
                s.*m = static_cast<int32_t>(parseInt(v, what, INT32_MIN, INT32_MAX));
            }};
}

Field hotkeyBool(std::string key, bool TShortcut::*m) {
    std::string what = "Hotkey/" + key;
    return {
        "Hotkey", key, [m](const TOptionsSetting& s) { return json(s.Hotkey.*m); },
        [m, what](TOptionsSetting& s, const std::string& v) { s.Hotkey.*m = parseBool(v, what); }};
}

Field readOnly(std::string sec, std::string key, std::function<json(const TOptionsSetting&)> get) {
    return {std::move(sec), std::move(key), std::move(get), {}};
}

// A numbered list ("IgnoreValue"/"Value1"...): entries can be changed and one
// appended; the count follows the list.
void listFields(std::vector<Field>& out, const std::string& sec, const std::string& prefix,
                std::vector<std::string> TOptionsSetting::*list, const TOptionsSetting& now) {
    out.push_back(readOnly(sec, "Count",
                           [list](const TOptionsSetting& s) { return json((s.*list).size()); }));
    size_t n = (now.*list).size();
    for (size_t i = 0; i <= n; ++i) {
        Field f{sec, prefix + std::to_string(i + 1),
                [list, i](const TOptionsSetting& s) {
                    return i < (s.*list).size() ? json((s.*list)[i]) : json();
                },
                [list, i](TOptionsSetting& s, const std::string& v) {
                    if (i == (s.*list).size())
                        (s.*list).push_back(v);
                    else
                        (s.*list)[i] = v;
                }};
        f.hidden = i == n;
        out.push_back(std::move(f));
    }
}

std::vector<Field> settingFields(const TOptionsSetting& now,
                                 const std::vector<std::string>& selected) {
    using S = TOptionsSetting;
    std::vector<Field> f;
    f.push_back(boolField("Options", "IsAskBeforeClear", &S::IsAskBeforeClear));
    f.push_back(boolField("Options", "IsWipeFile", &S::IsWipeFile));
    f.push_back(intField("Options", "WipeNumber", &S::WipeNumber));
    f.push_back(boolField("Hotkey", "EnableHotkey", &S::EnableHotkey));
    f.push_back(hotkeyBool("IsCtrl", &TShortcut::IsCtrl));
    f.push_back(hotkeyBool("IsShift", &TShortcut::IsShift));
    f.push_back(hotkeyBool("IsAlt", &TShortcut::IsAlt));
    f.push_back({"Hotkey", "CharString", [](const S& s) { return json(s.Hotkey.CharString); },
                 [](S& s, const std::string& v) { s.Hotkey.CharString = v; }});
    f.push_back({"Hotkey", "CharAscII", [](const S& s) { return json(s.Hotkey.CharAscII); },
                 [](S& s, const std::string& v) {
                     s.Hotkey.CharAscII = uint16_t(parseInt(v, "Hotkey/CharAscII", 0, 65535));
                 }});
    f.push_back(boolField("Hotkey", "EnableIE", &S::EnableIE));
    f.push_back(boolField("Hotkey", "EnableNetscape", &S::EnableNetscape));
    f.push_back(boolField("Hotkey", "EnableFirefox", &S::EnableFirefox));
    f.push_back(boolField("Hotkey", "EnableOpera", &S::EnableOpera));
    f.push_back(boolField("SChedule", "AutoClean", &S::AutoClean));
    f.push_back(intField("SChedule", "CleanInterval", &S::CleanInterval));
    f.push_back(boolField("SChedule", "StartClean", &S::StartClean));
    f.push_back(boolField("SChedule", "ShutdownClean", &S::ShutdownClean));
    f.push_back(readOnly("NodeSelected", "SelectedCount",
                         [](const S& s) { return json(s.SelectedCount); }));
    for (size_t i = 0; i < selected.size(); ++i)
        f.push_back(readOnly("NodeSelected", std::to_string(i + 1),
                             [text = selected[i]](const S&) { return json(text); }));
    for (int i = 1; i <= kExpandSlots; ++i)
        f.push_back({"FirstNodeExpand", std::to_string(i),
                     [i](const S& s) { return json(s.FirstNodeExpand[i]); },
                     [i](S& s, const std::string& v) {
                         s.FirstNodeExpand[i] =
                             parseBool(v, "FirstNodeExpand/" + std::to_string(i));
                     }});
    f.push_back(boolField("Settings", "ShowLogTempInternetFiles", &S::ShowLogTempInternetFiles));
    f.push_back(boolField("Settings", "ShowLogRecycleBin", &S::ShowLogRecycleBin));
    f.push_back(boolField("Settings", "FastScan", &S::FastScan));
    f.push_back({"Options", "OutputDirectory", [](const S& s) { return json(s.OutputDirectory); },
                 [](S& s, const std::string& v) { s.OutputDirectory = v; }});
    f.push_back(boolField("Options", "DeleteBackupFile", &S::DeleteBackupFile));
    f.push_back(boolField("Options", "IncludeRemoveMedia", &S::IncludeRemoveMedia));
    f.push_back(boolField("Options", "IncludeCDdrive", &S::IncludeCDdrive));
    for (int i = 1; i <= kSectionSlots; ++i)
        f.push_back({"TreeViewNodeCheck", std::to_string(i),
                     [i](const S& s) { return json(s.TreeViewNodeCheck[i]); },
                     [i](S& s, const std::string& v) {
                         s.TreeViewNodeCheck[i] =
                             parseBool(v, "TreeViewNodeCheck/" + std::to_string(i));
                     }});
    listFields(f, "IgnoreValue", "Value", &S::IgnoreValueList, now);
    listFields(f, "IgnoreKey", "Key", &S::IgnoreKeyList, now);
    f.push_back(readOnly("Window", "State", [](const S& s) {
        return json(s.WindowState == TWindowState::wsMaximized ? 3 : 1);
    }));
    for (auto [key, member] : {std::pair{"Left", &S::Left},
                               {"Top", &S::Top},
                               {"Width", &S::Width},
                               {"Height", &S::Height}}) {
        Field w = readOnly("Window", key, [m = member](const S& s) { return json(s.*m); });
        w.screenDefault = true;
        f.push_back(std::move(w));
    }
    f.push_back(boolField("Options", "RestorePoint", &S::RestorePoint));
    return f;
}

std::string valueText(const json& v) {
    if (v.is_boolean()) return v.get<bool>() ? "1" : "0";
    if (v.is_string()) return v.get<std::string>();
    if (v.is_null()) return "";
    return v.dump();
}

// The settings as the program would see them at start, and what the file holds.
struct Loaded {
    SettingsLocation loc;
    std::optional<IniFile> ini;
    TOptionsSetting settings;
    std::vector<Field> fields;
};

// create off: showing the settings changes nothing in the machine.
Loaded loadAll(CliContext& ctx, bool create) {
    Loaded l;
    Machine& m = ctx.machine();
    l.loc = LocateSettings(m, create);
    l.ini = readIniFile(m, l.loc.fileName);
    if (!l.ini && !create)
        l.ini = readIniFile(m, includeTrailingBackslash(m.programFolder()) + "options.ini");
    // No window here: a missing bound is shown as missing, not centred on some screen.
    LoadSettings(m, l.settings, nullptr, WindowMetrics{}, create);
    l.fields =
        settingFields(l.settings, l.ini ? readSelectedItems(*l.ini) : std::vector<std::string>{});
    return l;
}

const Field& resolve(const std::vector<Field>& fields, const std::string& name) {
    std::vector<const Field*> hits;
    size_t slash = name.find('/');
    for (const auto& f : fields) {
        bool match = slash == std::string::npos ? equalsNoCase(f.key, name) && !f.hidden
                                                : equalsNoCase(f.section, name.substr(0, slash)) &&
                                                      equalsNoCase(f.key, name.substr(slash + 1));
        if (match) hits.push_back(&f);
    }
    if (hits.empty())
        throw CliError{kExitUsage, "Unknown setting \"" + name +
                                       "\". `brisko options` lists them all (give them as "
                                       "Section/Key or by a key name that is unique)."};
    if (hits.size() > 1) {
        std::string names;
        for (const Field* f : hits) names += (names.empty() ? "" : ", ") + f->name();
        throw CliError{kExitUsage, "\"" + name + "\" names several settings (" + names +
                                       "); give Section/Key."};
    }
    return *hits.front();
}

bool stored(const Loaded& l, const Field& f) {
    return l.ini && l.ini->valueExists(f.section, f.key);
}

json shownValue(const Loaded& l, const Field& f) {
    if (f.screenDefault && !stored(l, f)) return json();
    return f.get(l.settings);
}

std::string hostPath(CliContext& ctx, const std::string& winPath) {
#ifdef _WIN32
    (void)ctx;
    return winPath;  // the running system: the Windows path is the file
#else
    auto p = ctx.machine().imageFiles().resolve(winPath, false, true);
    return p ? p->string() : std::string();
#endif
}

// The fields grouped by section, sections in the order they first appear
// ("Options" is read in three places).
std::vector<const Field*> bySection(const std::vector<Field>& fields, std::string_view only = {}) {
    std::vector<std::string> order;
    for (const auto& f : fields)
        if (std::find(order.begin(), order.end(), f.section) == order.end())
            order.push_back(f.section);
    std::vector<const Field*> out;
    for (const auto& sec : order)
        for (const auto& f : fields)
            if (f.section == sec && !f.hidden && (only.empty() || equalsNoCase(sec, only)))
                out.push_back(&f);
    return out;
}

// Two things the Options dialog edits outside options.ini: the auto-start value
// in the user's Run key and the cookie keep list in "Cookies.ini".
bool isAutoStart(const std::string& name) {
    return equalsNoCase(name, "AutoStart");
}
bool isCookieKeep(const std::string& name) {
    return equalsNoCase(name, "CookiesToKeep");
}

std::string joinList(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ",") + i;
    return out;
}

int runList(CliContext& ctx, std::string_view only = {}) {
    Loaded l = loadAll(ctx, false);
    std::string host = hostPath(ctx, l.loc.fileName);
    if (ctx.json) {
        json settings = json::object();
        for (const Field* f : bySection(l.fields, only))
            settings[f->section][f->key] = shownValue(l, *f);
        ctx.printJson({{"file", l.loc.fileName},
                       {"hostPath", host},
                       {"exists", l.ini.has_value()},
                       {"settings", settings}});
        return kExitOk;
    }
    std::cout << "; " << l.loc.fileName << (host.empty() ? "" : " (" + host + ")") << "\n";
    if (!l.ini) std::cout << "; the file does not exist yet: every value is the default\n";
    std::string section;
    for (const Field* fp : bySection(l.fields, only)) {
        const Field& f = *fp;
        if (f.section != section) {
            section = f.section;
            std::cout << "[" << section << "]\n";
        }
        std::cout << f.key << "=" << valueText(shownValue(l, f));
        if (l.ini && !stored(l, f))
            std::cout << (f.screenDefault ? "  ; not stored: the window's design size, centred"
                                          : "  ; not stored: default");
        std::cout << "\n";
    }
    if (only.empty()) {
        Machine& m = ctx.machine();
        std::cout << "; outside options.ini (the Options dialog edits them too):\n"
                  << "AutoStart=" << (AutoStartEnabled(m) ? "1" : "0")
                  << "  ; the \"Brisko Cleaner\" value of the user's Run key\n"
                  << "CookiesToKeep=" << joinList(ReadCookieKeepList(m)) << "  ; "
                  << CookieKeepFile(m) << "\n";
    }
    return kExitOk;
}

int runOutsideGet(CliContext& ctx, const std::string& name) {
    Machine& m = ctx.machine();
    if (ctx.json) {
        json v = isAutoStart(name) ? json(AutoStartEnabled(m)) : json(ReadCookieKeepList(m));
        ctx.printJson({{"key", isAutoStart(name) ? "AutoStart" : "CookiesToKeep"}, {"value", v}});
    } else {
        std::cout << (isAutoStart(name) ? std::string(AutoStartEnabled(m) ? "1" : "0")
                                        : joinList(ReadCookieKeepList(m)))
                  << "\n";
    }
    return kExitOk;
}

int runOutsideSet(CliContext& ctx, const std::string& name, const std::string& value) {
    Machine& m = ctx.machineForWriting();
    if (isAutoStart(name)) {
        bool on = parseBool(value, "AutoStart");
        if (const std::string why = AutoStartUnavailableReason(m); on && !why.empty())
            throw CliError{kExitFailure, why};
        if (!SetAutoStart(m, on))
            throw CliError{kExitFailure, "The Run key of the user cannot be changed."};
    } else {
        std::vector<std::string> keep;
        for (const auto& part : split(value, ',')) {
            std::string t(trim(part));
            if (!t.empty()) keep.push_back(t);
        }
        if (!WriteCookieKeepList(m, keep))
            throw CliError{kExitFailure, "Cannot write " + CookieKeepFile(m) + "."};
    }
    return runOutsideGet(ctx, name);
}

int runGet(CliContext& ctx, const std::string& name) {
    if (isAutoStart(name) || isCookieKeep(name)) return runOutsideGet(ctx, name);
    Loaded l = loadAll(ctx, false);
    // A section name shows the whole section.
    if (name.find('/') == std::string::npos) {
        bool isKey = false, isSection = false;
        for (const auto& f : l.fields) {
            isKey = isKey || (!f.hidden && equalsNoCase(f.key, name));
            isSection = isSection || equalsNoCase(f.section, name);
        }
        if (isSection && !isKey) return runList(ctx, name);
    }
    const Field& f = resolve(l.fields, name);
    json v = shownValue(l, f);
    if (ctx.json)
        ctx.printJson({{"section", f.section},
                       {"key", f.key},
                       {"value", v},
                       {"stored", stored(l, f)},
                       {"file", l.loc.fileName}});
    else
        std::cout << valueText(v) << "\n";
    return kExitOk;
}

int runSet(CliContext& ctx, const std::string& name, const std::string& value) {
    if (isAutoStart(name) || isCookieKeep(name)) return runOutsideSet(ctx, name, value);
    Loaded l = loadAll(ctx, true);
    const Field& f = resolve(l.fields, name);
    if (!f.set)
        throw CliError{kExitUsage, f.name() + " is kept by the program itself and cannot be set."};
    // The Options dialog's checks: a change that breaks one is refused (a file
    // that already broke one before is not held against other keys).
    std::string problemBefore = CheckOptions(ctx.machine(), l.settings);
    f.set(l.settings, value);
    std::string problemAfter = CheckOptions(ctx.machine(), l.settings);
    if (!problemAfter.empty() && problemAfter != problemBefore)
        throw CliError{kExitUsage, f.name() + " was not changed: " + problemAfter};
    // Saved the way the program saves: the clean selection and the window stay as stored.
    if (!SaveSettings(ctx.machine(), l.settings, nullptr, nullptr, nullptr))
        throw CliError{kExitFailure, "Cannot write " + l.loc.fileName + "; it is unchanged."};

    // Show what the program will read back (an out-of-range WipeNumber loads as 1).
    Loaded after = loadAll(ctx, true);
    const Field& g = resolve(after.fields, f.name());
    json v = g.get(after.settings);
    if (ctx.json) {
        ctx.printJson({{"section", f.section},
                       {"key", f.key},
                       {"value", v},
                       {"written", value},
                       {"file", l.loc.fileName}});
        return kExitOk;
    }
    std::cout << f.name() << "=" << valueText(v);
    if (valueText(v) != value && !v.is_boolean())
        std::cout << "  ; written as \"" << value << "\", read back as shown";
    std::cout << "\n";
    return kExitOk;
}

}  // namespace

void addOptionsCommand(CLI::App& app, CliContext& ctx) {
    auto* sub = app.add_subcommand(
        "options",
        "Show or change the program's settings (options.ini in the user's Application Data). "
        "Without KEY: every setting and the file; with KEY: one value; with KEY VALUE: set it.");
    auto key = std::make_shared<std::string>();
    auto value = std::make_shared<std::string>();
    auto* keyOpt = sub->add_option("key", *key, "Section/Key, or a key name that is unique");
    auto* valueOpt = sub->add_option("value", *value, "New value (booleans: 1 or 0)");
    setRunner(sub, [&ctx, key, value, keyOpt, valueOpt] {
        if (valueOpt->count()) return runSet(ctx, *key, *value);
        if (keyOpt->count()) return runGet(ctx, *key);
        return runList(ctx);
    });
}

}  // namespace brisko::cli
