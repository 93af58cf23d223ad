#pragma once
// Text from the Qt-free layers (UTF-8) as Qt shows it.
#include <QString>
#include <string_view>

namespace brisko {

inline QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

}  // namespace brisko
