#pragma once
// A small image machine for scanner tests: registry values and files are
// added, the machine is written and opened, and sections are scanned on it.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "core/machine/image/image_machine.h"
#include "demo/machine_builder.h"
#include "registry/scan_context.h"
#include "support/test_machine.h"

namespace brisko::test {

class ScanMachine {
  public:
    ScanMachine() : builder_("Alex", "S-1-5-21-1004336348-1177238915-682003330-1000") {}

    // Values by full key path; text is written as it should read back.
    ScanMachine& sz(std::string_view key, std::string_view name, std::string_view text) {
        return value(key, name, "\"" + escape(text) + "\"");
    }
    ScanMachine& expandSz(std::string_view key, std::string_view name, std::string_view text) {
        return value(key, name, "hex(2):" + hexOf(utf8ToUtf16le(text)));
    }
    ScanMachine& dword(std::string_view key, std::string_view name, uint32_t v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        return value(key, name, buf);
    }
    ScanMachine& binary(std::string_view key, std::string_view name,
                        const std::vector<uint8_t>& bytes) {
        return value(key, name, "hex:" + hexOf(bytes));
    }
    ScanMachine& key(std::string_view key) {
        builder_.addRegText(kHeader + ("[" + std::string(key) + "]\r\n"));
        return *this;
    }
    // Files on drive C:, by Windows path.
    ScanMachine& file(std::string path, std::string content = "x") {
        builder_.addFile(std::move(path), std::move(content));
        return *this;
    }
    ScanMachine& folder(std::string path) {
        builder_.addFolder(std::move(path));
        return *this;
    }
    // machine.ini text ([Machine] and [Drive X] sections); other drives'
    // files go straight to their host folders below the machine folder.
    ScanMachine& ini(std::string text) {
        ini_ += text;
        return *this;
    }
    std::filesystem::path host() const { return dir_.path(); }

    Machine& open() {
        if (!machine_) {
            builder_.write(dir_.path());
            if (!ini_.empty()) writeFile(dir_.path() / "machine.ini", ini_);
            machine_ = std::make_unique<ImageMachine>(dir_.path());
        }
        return *machine_;
    }

    // Runs the sections in order, as the worker does; version 12 is Windows 7.
    std::vector<RegistryProblem> scan(std::vector<int> sections, int version = 12,
                                      bool ignoreRemovable = true) {
        Machine& m = open();
        ProblemCollector out;
        ScanContext ctx(m, makeScanEnvironment(m, ignoreRemovable, version), sections, out);
        for (int code : sections)
            if (auto* fn = defaultScannerTable().find(code)) (*fn)(ctx);
        return out.rows;
    }
    std::vector<RegistryProblem> scan(int section, int version = 12) {
        return scan(std::vector<int>{section}, version);
    }

  private:
    // Version 5 text, so that hex(2) data is read as UTF-16.
    static constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
    static std::string escape(std::string_view s) {
        std::string out;
        for (char c : s) {
            if (c == '\\' || c == '"') out.push_back('\\');
            out.push_back(c);
        }
        return out;
    }
    static std::string hexOf(const std::vector<uint8_t>& bytes) {
        std::string out;
        char buf[4];
        for (size_t i = 0; i < bytes.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
            if (i) out.push_back(',');
            out += buf;
        }
        return out;
    }
    ScanMachine& value(std::string_view key, std::string_view name, const std::string& data) {
        std::string n = name.empty() ? "@" : "\"" + escape(name) + "\"";
        builder_.addRegText(kHeader + ("[" + std::string(key) + "]\r\n" + n + "=" + data + "\r\n"));
        return *this;
    }

    TempDir dir_;
    MachineBuilder builder_;
    std::string ini_;
    std::unique_ptr<ImageMachine> machine_;
};

// The rows' data texts, or key paths, for compact expectations.
inline std::vector<std::string> dataOf(const std::vector<RegistryProblem>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.data);
    return out;
}
inline std::vector<std::string> keysOf(const std::vector<RegistryProblem>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.keyPath);
    return out;
}

}  // namespace brisko::test
