#pragma once
// Dates and times as the machine's user has Windows show them: the short date
// and time pictures of "Control Panel\International" ("M/d/yyyy",
// "HH:mm:ss", ...) and the time zone of the machine, not of this computer.
#include <cstdint>
#include <string>

namespace brisko {

class Machine;

struct MachineTimeFormat {
    std::string shortDate = "M/d/yyyy";
    std::string timeFormat = "h:mm:ss tt";
    std::string am = "AM", pm = "PM";
    int32_t biasMinutes = 0;  // UTC = local time + bias
};

// The current user's format and the machine's active time-zone bias; what
// the machine does not say stays at Windows' defaults (US English, UTC).
MachineTimeFormat machineTimeFormat(Machine& machine);

// A FILETIME (UTC) as local time of the machine, short date, a blank, long
// time. Empty for zero or a time past the year 2500.
std::string formatMachineTime(uint64_t fileTime, const MachineTimeFormat& format);

}  // namespace brisko
