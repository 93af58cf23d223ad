#pragma once
// The "Microsoft Office" group: the recent-document lists Office keeps in the
// registry for each version from Office 97 (8.0) to Office 2016 and later
// (16.0), and the shortcuts in the Office recent folder.
namespace brisko {

class ItemTable;

// Office versions the registry lists are looked for in. 16.0 is every Office
// from 2016 on (2019, 2021, 2024 and Microsoft 365 kept the number).
inline constexpr int kFirstOfficeVersion = 8;
inline constexpr int kLastOfficeVersion = 16;

void addOfficeItems(ItemTable& table);

}  // namespace brisko
