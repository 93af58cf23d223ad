#pragma once
// Small machines for tests, built in a temporary folder that is removed after.
#include <filesystem>
#include <string>

namespace brisko::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, std::string_view content);
// Damages a hive the way a cut-short copy looks: the base block (checksum kept
// right, so it is not dirty) claims hive bins twice the file's size.
void claimBinsBeyondTheFile(const std::filesystem::path& hive);

}  // namespace brisko::test
