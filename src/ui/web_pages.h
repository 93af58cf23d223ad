#pragma once
// The product's pages: help, home and update notes. They ship with the
// program as HTML files (docs/web) and open in the browser of the computer
// the program runs on.
#include <QString>
#include <string_view>

namespace brisko {

inline constexpr std::string_view kHomePage = "index.html";
inline constexpr std::string_view kOnlineHelpPage = "help.html";
inline constexpr std::string_view kUpdatePage = "update.html";

// The page's file: "docs/web" beside the program when installed, else the
// source tree's; empty when neither has it.
QString webPageFile(std::string_view page);

}  // namespace brisko
