#pragma once
// The product's pages on the web, opened through the machine's shell.
#include <string_view>

namespace brisko {

inline constexpr std::string_view kProductWebPage = "https://brisko-cleaner.example.org/";
// Home, help and update checks all lead to the product page for now.
inline constexpr std::string_view kHomePage = kProductWebPage;
inline constexpr std::string_view kOnlineHelpPage = kProductWebPage;
inline constexpr std::string_view kUpdatePage = kProductWebPage;

}  // namespace brisko
