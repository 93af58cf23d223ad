#include "core/startup.h"

#include "base/text.h"

namespace brisko {

int WindowsVersionCode(const OsVersion& v) {
    if (v.platform != OsVersion::NT) {
        if (v.major == 4 && v.minor == 0) return 1;
        if (v.major == 4 && v.minor == 10) return 3;
        if (v.major == 4 && v.minor == 90) return 8;
        return 10;
    }
    switch (v.major) {
        case 3:
            return 5;
        case 4:
            return 6;
        case 5:
            if (v.minor == 0) return 7;
            if (v.minor == 1) return 9;
            return 10;
        case 6:
            if (v.minor == 1) return 12;
            if (v.minor == 2) return 13;
            return 11;  // 6.0 Vista, and later 6.x releases are treated like it
        default:
            return 10;
    }
}

StartSwitch parseStartSwitch(std::string_view firstArg) {
    if (firstArg == "/Auto") return StartSwitch::Auto;
    if (equalsNoCase(firstArg, "/Clear")) return StartSwitch::Clear;
    if (equalsNoCase(firstArg, "/Regdefrag")) return StartSwitch::Regdefrag;
    if (equalsNoCase(firstArg, "/Regscan")) return StartSwitch::Regscan;
    return StartSwitch::None;
}

StartSwitch effectiveStartSwitch(StartSwitch sw, int versionCode) {
    if ((sw == StartSwitch::Regdefrag || sw == StartSwitch::Regscan) &&
        !registryAnalysisAvailable(versionCode))
        return StartSwitch::None;
    return sw;
}

std::string StartArgs::reportFile() const {
    if (startSwitch() != StartSwitch::Regscan) return {};
    return std::string(second());
}

StartArgs parseStartArgs(const std::vector<std::string>& argv) {
    StartArgs out;
    size_t i = 0;
    while (i < argv.size()) {
        const std::string& a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--machine") {
            if (i + 1 >= argv.size() || argv[i + 1].empty())
                throw StartArgsError{"--machine needs the folder of a Windows installation"};
            out.machineDir = argv[i + 1];
            i += 2;
            continue;
        }
        if (a.rfind("--machine=", 0) == 0) {
            out.machineDir = a.substr(10);
            if (out.machineDir.empty())
                throw StartArgsError{"--machine needs the folder of a Windows installation"};
            ++i;
            continue;
        }
        break;
    }
    out.args.assign(argv.begin() + static_cast<std::ptrdiff_t>(i), argv.end());
    return out;
}

StartArgs parseStartArgs(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return parseStartArgs(args);
}

int scheduleIntervalMs(int cleanInterval) {
    switch (cleanInterval) {
        case 1:
            return 1800000;
        case 2:
            return 3600000;
        case 3:
            return 14400000;
        case 4:
            return 28800000;
        default:
            return 900000;
    }
}

}  // namespace brisko
