#include "hive/regf_writer.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "hive/hive_output.h"
#include "hive/regf_builder.h"
#include "hive/regf_format.h"

namespace brisko::hive {

int64_t nowFiletime() {
    using namespace std::chrono;
    auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return since1970 / 100 + 116444736000000000LL;
}

namespace {

using namespace regf;
using namespace regf_build;

template <class Source>
bool buildHive(HiveBuffer& buffer, Source& source, typename Source::Key root,
               const RegfWriteOptions& options, std::string& error) {
    return HiveBuilder<Source>(buffer, options, source).build(root, error);
}

// Builds the hive into `out` (a file being made), writing what is done while
// the rest is built.
template <class Source, class Key>
bool buildInto(Source& source, Key root, const RegfWriteOptions& options, TempFileBeside& out,
               std::string* error) {
    HiveBuffer buffer;
    std::string message;
    bool ok;
    if (buffer.reserve(kBaseBlockSize + kMaxBinsSize)) {
        HiveStream stream(buffer, out);
        ok = HiveBuilder<Source>(buffer, options, source, &stream).build(root, message) &&
             stream.finish(message);
    } else {
        ok = buildHive(buffer, source, root, options, message) &&
             out.write({buffer.data(), buffer.size()}, &message);
    }
    if (!ok && error) *error = message;
    return ok;
}

template <class Source, class Key>
bool buildFile(Source& source, Key root, const std::filesystem::path& file,
               const RegfWriteOptions& options, std::string* error) {
    TempFileBeside temp;
    return temp.create(file, error) && buildInto(source, root, options, temp, error) &&
           temp.finish(error) && temp.replace(error);
}

template <class Source, class Key>
std::vector<uint8_t> buildBytes(Source& source, Key root, const RegfWriteOptions& options,
                                std::string* error) {
    HiveBuffer buffer;
    std::string message;
    if (!buildHive(buffer, source, root, options, message)) {
        if (error) *error = message;
        return {};
    }
    return {buffer.data(), buffer.data() + buffer.size()};
}

}  // namespace

std::vector<uint8_t> serializeHive(const RegTreeKey& root, const RegfWriteOptions& options) {
    TreeSource source;
    return buildBytes(source, &root, options, nullptr);
}

std::vector<uint8_t> serializeHive(const HiveReader& reader, uint32_t root,
                                   const RegfWriteOptions& options, std::string* error) {
    CellSource source(reader);
    return buildBytes(source, root, options, error);
}

bool writeHiveFile(const RegTreeKey& root, const std::filesystem::path& file,
                   const RegfWriteOptions& options, std::string* error) {
    TreeSource source;
    return buildFile(source, &root, file, options, error);
}

bool writeHiveFile(const HiveReader& reader, uint32_t root, const std::filesystem::path& file,
                   const RegfWriteOptions& options, std::string* error) {
    CellSource source(reader);
    return buildFile(source, root, file, options, error);
}

bool writeHiveTo(const RegTreeKey& root, TempFileBeside& out, const RegfWriteOptions& options,
                 std::string* error) {
    TreeSource source;
    return buildInto(source, &root, options, out, error);
}

bool writeHiveTo(const HiveReader& reader, uint32_t root, TempFileBeside& out,
                 const RegfWriteOptions& options, std::string* error) {
    CellSource source(reader);
    return buildInto(source, root, options, out, error);
}

}  // namespace brisko::hive
