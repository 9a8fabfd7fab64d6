// Helpers of the packer tests: temporary directories, files, test data, and round
// trips of members through the core's extraction.
#ifndef VORPANEX_TESTS_TOOL_SUPPORT_H
#define VORPANEX_TESTS_TOOL_SUPPORT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "encode/encoder.h"

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    const std::string& Path() const { return path; }
    std::string Join(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> ReadFile(const std::string& path);

// A stand-in stub of size bytes (at least 70): the MZ and PE headers that pack
// checks, filled with 'S'.
std::vector<uint8_t> FakeStub(size_t size);

// Test data, from fixed seeds.
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);
std::vector<uint8_t> TextBytes(size_t size, uint32_t seed);

struct NamedData {
    std::string name;
    std::vector<uint8_t> data;
};

// Packs the members with the method (no stored fallback), writes a bare archive into
// directory, extracts it there into a sub-directory with the core, and returns the
// extraction's result. The extracted files are compared by the caller.
int RoundTrip(const TemporaryDirectory& directory, const std::vector<NamedData>& members,
              const EncodeOptions& options, char method);

// Runs PackCommand with the arguments (the verb is added in front).
int RunPack(const std::vector<std::string>& arguments);

#endif
