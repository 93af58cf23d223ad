#pragma once
// What the native backend's tests share: the machine, a scratch folder on
// drive C: and a scratch key under HKCU, both removed afterwards.
#include <gtest/gtest.h>

#include <string>

#include "core/machine/win32/win32_machine.h"

namespace brisko::win32::test {

// The test program itself, for child processes ("--sleep", or a copy named
// Regedit.exe, waits a minute).
std::string selfPath();
// Wine, where its registry or shell differs from Windows.
bool runningOnWine();

class Win32Test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    Win32Machine m;
    std::string dir;  // "C:\brisko-tests\<pid>-<n>", without trailing backslash
    std::string key;  // "Software\BriskoTests\<pid>-<n>" under HKEY_CURRENT_USER

    // Writes a file with the given content under dir.
    std::string makeFile(const std::string& name, const std::string& content = "data");
};

}  // namespace brisko::win32::test
