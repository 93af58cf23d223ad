// brisko indexdat list|wipe: the addresses an Internet Explorer index.dat file
// still holds, and blanking it in place. FILE is a Windows path inside the
// machine; with --host it is a file on this computer (opened for writing only
// by wipe).
#include <unistd.h>

#include <iostream>

#include "app/cli/commands.h"
#include "app/cli/json_stream.h"
#include "cleaner/indexdat/host_file_handle.h"
#include "cleaner/indexdat/index_dat.h"
#include "core/machine_time_format.h"
#include "core/settings.h"

namespace brisko::cli {

namespace {

struct IndexDatOptions {
    std::string file;
    bool host = false;
    bool yes = false;
};

std::unique_ptr<FileHandle> openIndexFile(CliContext& ctx, const IndexDatOptions& o,
                                          FileMode mode) {
    if (o.host) {
        std::string why;
        auto f = openHostFile(o.file, mode, &why);
        if (!f) throw CliError{kExitFailure, "cannot open " + o.file + ": " + why};
        return f;
    }
    Machine& m = mode == FileMode::Read ? static_cast<Machine&>(ctx.machine())
                                        : static_cast<Machine&>(ctx.machineForWriting());
    auto& files = m.files();
    if (!files.fileExists(o.file))
        throw CliError{kExitFailure, "no such file in the machine: " + o.file};
    auto f = files.openFile(o.file, mode);
    if (!f)
        throw CliError{kExitFailure, "cannot open " + o.file +
                                         (mode == FileMode::Read ? "" : " for writing") +
                                         " (in use or not a regular file)"};
    return f;
}

// An index file starts with "Client UrlCache MMF Ver "; anything else is told
// apart from an index file that lists nothing.
bool looksLikeIndexFile(FileHandle& f) {
    char sig[24];
    return f.seek(0) && f.read(sig, 24) == 24 &&
           std::string_view(sig, 24) == "Client UrlCache MMF Ver ";
}

int runList(CliContext& ctx, const IndexDatOptions& o) {
    auto f = openIndexFile(ctx, o, FileMode::Read);
    if (!looksLikeIndexFile(*f))
        throw CliError{kExitBadInput, o.file + " is not an index.dat file"};
    auto entries = ReadIndexDat(*f, 0);
    if (ctx.json) {
        auto iso = [](uint64_t fileTime) {
            std::string t = IndexDatIsoTime(fileTime);
            return t.empty() ? nlohmann::json() : nlohmann::json(t);
        };
        // Addresses are bytes in the browser's code page; JSON wants UTF-8.
        JsonStream out(std::cout, -1, nlohmann::json::error_handler_t::replace);
        out.beginObject();
        out.key("entries");
        out.beginArray();
        for (const auto& e : entries) {
            const bool url = e.Type != "REDR";
            out.value({{"url", e.Url},
                       {"lastModified", url ? iso(e.ModifiedTime) : nlohmann::json()},
                       {"lastAccessed", url ? iso(e.FileTime) : nlohmann::json()},
                       {"type", e.Type}});
        }
        out.endArray();
        out.key("total");
        out.value(entries.size());
        out.endObject();
        out.finish();
    } else {
        // The machine's own date and time format; a host file has no machine.
        const MachineTimeFormat format =
            o.host ? MachineTimeFormat{} : machineTimeFormat(ctx.machine());
        std::string out;
        for (const auto& e : entries) {
            std::string when = e.Type == "REDR" ? "" : formatMachineTime(e.FileTime, format);
            out += e.Type;
            out += '\t';
            out += when.empty() ? std::string(kTimeNotAvailable) : when;
            out += '\t';
            out += e.Url;
            out += '\n';
        }
        out += "Total Record: " + std::to_string(entries.size()) + "\n";
        std::cout << out;
    }
    return kExitOk;
}

int runWipe(CliContext& ctx, const IndexDatOptions& o) {
    if (!o.yes) {
        bool confirmed = false;
        if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
            std::cerr << "Blank every address in " << o.file << "? [y/N] " << std::flush;
            std::string answer;
            std::getline(std::cin, answer);
            confirmed = answer == "y" || answer == "Y" || answer == "yes";
        }
        if (!confirmed) throw CliError{kExitCancelled, "the wipe was not confirmed (use --yes)"};
    }
    auto f = openIndexFile(ctx, o, FileMode::ReadWrite);
    if (!looksLikeIndexFile(*f))
        throw CliError{kExitBadInput, o.file + " is not an index.dat file; it was left alone"};
    TOptionsSetting settings;
    if (!o.host) LoadSettings(ctx.machine(), settings, nullptr, WindowMetrics{}, false);
    const int64_t before = f->size();
    const bool blanked = WipeIndexDat(*f, settings);
    if (f->size() != before) throw CliError{kExitFailure, "the file changed its size"};
    if (!blanked)
        throw CliError{kExitFailure, "could not blank " + o.file +
                                         ": its tables are damaged or a write failed, and it "
                                         "still holds addresses"};
    if (ctx.json)
        ctx.printJson(
            {{"file", o.file}, {"passes", IndexDatWipePasses(settings)}, {"wiped", true}});
    else
        std::cout << "Blanked " << o.file << " (" << IndexDatWipePasses(settings)
                  << (IndexDatWipePasses(settings) == 1 ? " pass)\n" : " passes)\n");
    return kExitOk;
}

}  // namespace

void addIndexDatCommands(CLI::App& app, CliContext& ctx) {
    auto* cmd = app.add_subcommand("indexdat", "Read or blank an Internet Explorer index.dat file");
    cmd->require_subcommand(1);
    static IndexDatOptions opts;
    auto fileOption = [](CLI::App* sub) {
        sub->add_option("FILE", opts.file,
                        "Windows path of the file in the machine (C:\\Users\\...\\index.dat)")
            ->required();
        sub->add_flag("--host", opts.host, "FILE is a file on this computer, not in the machine");
    };
    auto* list = cmd->add_subcommand(
        "list", "List the addresses the file still holds, in file order, with their times");
    fileOption(list);
    setRunner(list, [&ctx] { return runList(ctx, opts); });

    auto* wipe = cmd->add_subcommand(
        "wipe",
        "Blank the file's hash tables and records in place (it keeps its size), with the "
        "overwrite passes of the options");
    fileOption(wipe);
    wipe->add_flag("--yes,-y", opts.yes, "Do not ask for confirmation");
    setRunner(wipe, [&ctx] { return runWipe(ctx, opts); });
}

}  // namespace brisko::cli
