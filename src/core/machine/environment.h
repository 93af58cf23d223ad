#pragma once
// A Windows environment block: names compare without case, values may refer to
// other variables ("%USERPROFILE%\AppData") and are expanded as Windows does.
#include <map>
#include <string>
#include <string_view>

namespace brisko {

class Environment {
public:
    void set(std::string_view name, std::string_view value);
    // Only sets the variable when it is not there yet.
    void setDefault(std::string_view name, std::string_view value);
    std::string get(std::string_view name) const;  // "" when absent
    bool has(std::string_view name) const;
    // Replaces every %NAME% of a known variable; unknown ones stay as written.
    // Nested references in the values are expanded too (to a fixed depth).
    std::string expand(std::string_view s) const;
    const std::map<std::string, std::string>& all() const { return vars_; }

private:
    std::string expandDepth(std::string_view s, int depth) const;
    std::map<std::string, std::string> vars_;  // upper-cased name -> value
    std::map<std::string, std::string> names_;  // upper-cased name -> name as first written
};

}  // namespace brisko
