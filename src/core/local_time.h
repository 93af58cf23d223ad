#pragma once
// A moment as the program shows and stores it: local time, "2026-12-07 15:01:02".
#include <ctime>
#include <string>

namespace brisko {

std::string localTimeText(std::time_t t);
// The current local time.
std::string localTimeNowText();

}  // namespace brisko
