#include "core/machine_time_format.h"

#include <array>
#include <ctime>

#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {

constexpr int64_t kUnixEpochAsFileTime = 11644473600LL;  // seconds from 1601 to 1970
// 1 January 2501, in seconds since 1601.
constexpr uint64_t kLimit = 28401667200ULL + 11644473600ULL;

constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};
constexpr std::array<const char*, 7> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};

std::string number(int v, size_t width) {
    std::string s = std::to_string(v);
    while (s.size() < width) s.insert(s.begin(), '0');
    return s;
}

// One picture as GetDateFormat and GetTimeFormat read it: runs of d, M, y,
// g, h, H, m, s and t; text in single quotes is copied ('' is a quote).
std::string applyPicture(const std::string& picture, const std::tm& tm,
                         const MachineTimeFormat& f) {
    std::string out;
    for (size_t i = 0; i < picture.size();) {
        const char c = picture[i];
        if (c == '\'') {
            size_t end = i + 1;
            for (; end < picture.size(); ++end) {
                if (picture[end] != '\'') continue;
                if (end + 1 < picture.size() && picture[end + 1] == '\'') {
                    out += '\'';
                    ++end;
                    continue;
                }
                break;
            }
            for (size_t k = i + 1; k < end && k < picture.size(); ++k)
                if (picture[k] != '\'') out += picture[k];
            i = end + 1;
            continue;
        }
        size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c) ++run;
        const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
        switch (c) {
            case 'd':
                out += run == 1   ? std::to_string(tm.tm_mday)
                       : run == 2 ? number(tm.tm_mday, 2)
                       : run == 3 ? std::string(kDays[size_t(tm.tm_wday)], 3)
                                  : kDays[size_t(tm.tm_wday)];
                break;
            case 'M':
                out += run == 1   ? std::to_string(tm.tm_mon + 1)
                       : run == 2 ? number(tm.tm_mon + 1, 2)
                       : run == 3 ? std::string(kMonths[size_t(tm.tm_mon)], 3)
                                  : kMonths[size_t(tm.tm_mon)];
                break;
            case 'y':
                out += run <= 2 ? number((tm.tm_year + 1900) % 100, run)
                                : std::to_string(tm.tm_year + 1900);
                break;
            case 'g':
                out += "A.D.";
                break;
            case 'h':
                out += run == 1 ? std::to_string(hour12) : number(hour12, 2);
                break;
            case 'H':
                out += run == 1 ? std::to_string(tm.tm_hour) : number(tm.tm_hour, 2);
                break;
            case 'm':
                out += run == 1 ? std::to_string(tm.tm_min) : number(tm.tm_min, 2);
                break;
            case 's':
                out += run == 1 ? std::to_string(tm.tm_sec) : number(tm.tm_sec, 2);
                break;
            case 't': {
                const std::string& mark = tm.tm_hour < 12 ? f.am : f.pm;
                out += run == 1 ? mark.substr(0, 1) : mark;
                break;
            }
            default:
                out.append(run, c);
        }
        i += run;
    }
    return out;
}

}  // namespace

MachineTimeFormat machineTimeFormat(Machine& machine) {
    MachineTimeFormat f;
    auto& reg = machine.registry();
    RegistryKey intl(reg, RootKey::CurrentUser);
    if (intl.openKeyReadOnly("Control Panel\\International")) {
        auto text = [&](const char* name, std::string& into) {
            if (auto v = intl.readString(name); v && !v->empty()) into = *v;
        };
        text("sShortDate", f.shortDate);
        text("sTimeFormat", f.timeFormat);
        text("s1159", f.am);
        text("s2359", f.pm);
    }
    RegistryKey zone(reg, RootKey::LocalMachine);
    if (zone.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\TimeZoneInformation")) {
        auto bias = zone.readInteger("ActiveTimeBias");
        if (!bias) bias = zone.readInteger("Bias");
        if (bias) f.biasMinutes = int32_t(*bias);
    }
    return f;
}

std::string formatMachineTime(uint64_t fileTime, const MachineTimeFormat& format) {
    if (fileTime == 0) return {};
    const uint64_t s = fileTime / 10000000ULL;
    if (s >= kLimit) return {};
    std::time_t t =
        std::time_t(int64_t(s) - kUnixEpochAsFileTime - int64_t(format.biasMinutes) * 60);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return {};
    return applyPicture(format.shortDate, tm, format) + " " +
           applyPicture(format.timeFormat, tm, format);
}

}  // namespace brisko
