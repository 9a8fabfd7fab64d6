// Helpers of the packer tests, and the extraction's UI seam for them.
#include "support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "archive/archive.h"
#include "extract/extract.h"
#include "extract/ui.h"
#include "platform/system.h"
#include "tools/commands.h"

volatile int CancelRequested;
int PumpOneMessage() { return 0; }
void ShowStatusLine(HWND, const char*) {}
void ShowProgress(HWND, unsigned) {}

// The tests pack with --stub or --archive-only; the built-in stub is absent.
const unsigned char embeddedStub[1] = {0};
const unsigned embeddedStubSize = 0;

#ifdef _WIN32
TemporaryDirectory::TemporaryDirectory() {
    path = sys::TemporaryFolder() + "/vorpanex-pack-XXXXXX";
    if (!sys::MakeTemporaryFolder(path)) abort();
}

TemporaryDirectory::~TemporaryDirectory() {
    if (!sys::RemoveTree(path.c_str())) fprintf(stderr, "could not remove %s\n", path.c_str());
}
#else
TemporaryDirectory::TemporaryDirectory() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/vorpanex-pack-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (mkdtemp(buffer.data()) == nullptr) abort();
    path = buffer.data();
}

TemporaryDirectory::~TemporaryDirectory() {
    const std::string command = "rm -rf '" + path + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path.c_str());
}
#endif

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> FakeStub(size_t size) {
    std::vector<uint8_t> stub(size, 'S');
    const uint8_t mz[] = {'M', 'Z'};
    const uint8_t peAt[] = {0x40, 0, 0, 0};
    const uint8_t pe[] = {'P', 'E', 0, 0, 0x4C, 0x01};
    memcpy(&stub[0], mz, sizeof mz);
    memcpy(&stub[0x3C], peAt, sizeof peAt);
    memcpy(&stub[0x40], pe, sizeof pe);
    return stub;
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data(size);
    for (uint8_t& byte : data) byte = static_cast<uint8_t>(random() >> 24);
    return data;
}

std::vector<uint8_t> TextBytes(size_t size, uint32_t seed) {
    static const char* const words[] = {
        "the",   "setup",  "program", "window",  "archive", "member", "file",   "of",
        "and",   "to",     "a",       "decoder", "block",   "code",   "length", "is",
        "which", "Windows", "install", "license", "GNU",    "free",   "software", "in"};
    std::mt19937 random(seed);
    std::vector<uint8_t> data;
    data.reserve(size + 16);
    while (data.size() < size) {
        const char* word = words[random() % (sizeof words / sizeof words[0])];
        data.insert(data.end(), word, word + strlen(word));
        const uint32_t roll = random() % 16;
        data.push_back(roll == 0 ? '\n' : roll == 1 ? ',' : ' ');
    }
    data.resize(size);
    return data;
}

int RoundTrip(const TemporaryDirectory& directory, const std::vector<NamedData>& members,
              const EncodeOptions& options, char method) {
    std::vector<uint8_t> archive;
    for (const NamedData& member : members) {
        const PackedMember packed = PackMember(member.data.data(), member.data.size(), options,
                                               method, false);
        const std::vector<uint8_t> header = BuildMemberHeader(member.name, packed, 0, 0x21);
        archive.insert(archive.end(), header.begin(), header.end());
        archive.insert(archive.end(), packed.data.begin(), packed.data.end());
    }
    archive.push_back(0);
    const std::string path = directory.Join("archive.lzh");
    WriteFile(path, archive);
    const std::string out = directory.Join("out");
    sys::MakeFolder(out.c_str(), 0755);
    return ExtractArchiveAt(nullptr, path.c_str(), out.c_str(), 0);
}

int RunPack(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"pack"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    fflush(stdout);
    return PackCommand(static_cast<int>(all.size()), argv.data());
}
