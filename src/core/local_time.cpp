#include "core/local_time.h"

namespace brisko {

std::string localTimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

std::string localTimeNowText() {
    return localTimeText(std::time(nullptr));
}

}  // namespace brisko
