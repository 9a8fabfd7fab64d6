// Branding the built stub, read back with the tool's own resource reader: icon group,
// string table, version block, manifest, PE layout; and the inputs that must be refused.
#include <gtest/gtest.h>

#include <string.h>

#include "support.h"
#include "tools/pe_resources.h"

namespace {

const size_t STUB_SIZE = 49152;

std::vector<uint8_t> BuiltStub() {
    const char* path = VORPANEX_TEST_STUB;
    FILE* file = path[0] ? fopen(path, "rb") : nullptr;
    if (file == nullptr) return {};
    fclose(file);
    return ReadFile(path);
}

uint32_t Le32(const std::vector<uint8_t>& data, size_t at) {
    return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t(data[at + 3]) << 24;
}

void Put32(std::vector<uint8_t>& data, uint32_t value) {
    for (int k = 0; k < 4; ++k) data.push_back(static_cast<uint8_t>(value >> 8 * k));
}

struct ImageSpec {
    unsigned size, bits;
    bool png;
    size_t extra;  // bytes of an ancillary PNG chunk, to make the image large
};

// An icon image: a complete bitmap (header, palette, colours, mask) or a PNG whose
// header says size and depth.
std::vector<uint8_t> IconImageBytes(const ImageSpec& image) {
    std::vector<uint8_t> out;
    if (image.png) {
        const uint8_t head[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13,
                                'I', 'H', 'D', 'R', 0, 0, 0, uint8_t(image.size), 0, 0, 0,
                                uint8_t(image.size), uint8_t(image.bits == 32 ? 8 : image.bits),
                                uint8_t(image.bits == 32 ? 6 : 3), 0, 0, 0};
        out.assign(head, head + sizeof head);
        out.resize(out.size() + 4 + image.extra, 0x5A);
        return out;
    }
    Put32(out, 40);
    Put32(out, image.size);
    Put32(out, 2 * image.size);
    out.push_back(1), out.push_back(0), out.push_back(uint8_t(image.bits)), out.push_back(0);
    out.resize(40, 0);
    const size_t palette = image.bits <= 8 ? 4u << image.bits : 0;
    const size_t colours = (image.size * image.bits + 31) / 32 * 4 * image.size;
    const size_t mask = (image.size + 31) / 32 * 4 * image.size;
    for (size_t k = 0; k < palette + colours + mask; ++k) out.push_back(uint8_t(k * 7 + image.bits));
    return out;
}

std::vector<uint8_t> IcoFile(const std::vector<ImageSpec>& specs) {
    std::vector<std::vector<uint8_t>> images;
    for (const ImageSpec& image : specs) images.push_back(IconImageBytes(image));
    std::vector<uint8_t> out = {0, 0, 1, 0, uint8_t(specs.size()), 0};
    size_t offset = 6 + 16 * specs.size();
    for (size_t k = 0; k < specs.size(); ++k) {
        out.push_back(uint8_t(specs[k].size)), out.push_back(uint8_t(specs[k].size));
        out.push_back(specs[k].bits == 4 ? 16 : 0), out.push_back(0);
        out.push_back(1), out.push_back(0), out.push_back(uint8_t(specs[k].bits)), out.push_back(0);
        Put32(out, static_cast<uint32_t>(images[k].size()));
        Put32(out, static_cast<uint32_t>(offset));
        offset += images[k].size();
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

Branding MakeBranding(const std::vector<ImageSpec>& icon,
                      std::vector<std::pair<std::string, std::string>> version,
                      const std::string& level) {
    Branding branding;
    if (!icon.empty()) {
        branding.iconPath = "vendor.ico";
        branding.icon = IcoFile(icon);
    }
    branding.versionInfo = version;
    branding.executionLevel = level;
    return branding;
}

std::vector<Resource> Select(const std::vector<Resource>& all, uint16_t type) {
    std::vector<Resource> chosen;
    for (const Resource& resource : all) {
        if (resource.type.text.empty() && resource.type.id == type) chosen.push_back(resource);
    }
    return chosen;
}

std::string ManifestOf(const std::vector<Resource>& all) {
    const std::vector<Resource> manifests = Select(all, RESOURCE_MANIFEST);
    return manifests.empty() ? "" : std::string(manifests[0].data.begin(), manifests[0].data.end());
}

std::string LookUp(const VersionInfo& info, const std::string& key) {
    for (const auto& pair : info.strings) {
        if (pair.first == key) return pair.second;
    }
    return "<absent>";
}

struct BrandCase {
    const char* what;
    std::vector<ImageSpec> icon;
    std::vector<std::pair<std::string, std::string>> version;
    std::string level;
    uint32_t fileVersion[2], productVersion[2];  // expected fixed info
};

TEST(BrandStub, ResourcesReadBackAsGiven) {
    const std::vector<uint8_t> stub = BuiltStub();
    if (stub.empty()) GTEST_SKIP() << "the tool was configured without the built stub";
    std::vector<Resource> before;
    std::string error;
    ASSERT_TRUE(ReadResources(stub, before, error)) << error;
    VersionInfo original;
    ASSERT_TRUE(ParseVersionInfo(Select(before, RESOURCE_VERSION).at(0).data, original));
    const uint32_t stubFile[2] = {original.fileVersion[0], original.fileVersion[1]};
    const uint32_t stubProduct[2] = {original.productVersion[0], original.productVersion[1]};

    const std::vector<BrandCase> cases = {
        {"16-colour bitmaps, both sizes", {{32, 4, false, 0}, {16, 4, false, 0}}, {}, "",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}},
        {"PNG 32 bpp and 256-colour bitmap", {{32, 32, true, 200}, {16, 8, false, 0}}, {}, "",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}},
        {"six images at every depth", {{32, 32, true, 0}, {16, 32, false, 0}, {32, 8, false, 0},
                                       {16, 8, false, 0}, {32, 4, false, 0}, {16, 4, true, 0}},
         {}, "", {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}},
        {"version strings, new and replaced keys",
         {}, {{"CompanyName", "Hanabi Soft K.K."}, {"FileDescription", "Hanabi セットアップ"},
              {"LegalCopyright", "(c) 2026 Hanabi 🎆"}}, "",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}},
        {"dotted versions set the fixed info", {},
         {{"FileVersion", "2.3.40.65535"}, {"ProductVersion", "7.1"}}, "",
         {0x00020003, 0x0028FFFF}, {0x00070001, 0}},
        {"execution level only", {}, {}, "asInvoker",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}},
        {"everything at once", {{32, 32, true, 3000}, {16, 32, false, 0}},
         {{"ProductName", "Hanabi"}, {"FileVersion", "1.2.3.4"}, {"Comments", ""}},
         "requireAdministrator", {0x00010002, 0x00030004}, {stubProduct[0], stubProduct[1]}},
    };
    for (const BrandCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Branding branding = MakeBranding(c.icon, c.version, c.level);
        std::vector<uint8_t> branded = stub;
        ASSERT_TRUE(BrandStub(branded, branding, STUB_SIZE, error)) << error;
        ASSERT_EQ(STUB_SIZE, branded.size());
        std::vector<Resource> after;
        ASSERT_TRUE(ReadResources(branded, after, error)) << error;

        // Icon group I_1 names exactly the new images, stored as given.
        StubDescription description;
        ASSERT_TRUE(DescribeStub(branded, description, error)) << error;
        const std::vector<Resource> icons = Select(after, RESOURCE_ICON);
        if (!c.icon.empty()) {
            ASSERT_EQ(c.icon.size(), description.icons.size());
            ASSERT_EQ(c.icon.size(), icons.size()) << "old images left behind";
            for (size_t k = 0; k < c.icon.size(); ++k) {
                const IconGroupEntry& entry = description.icons[k];
                EXPECT_EQ(c.icon[k].size, entry.width);
                EXPECT_EQ(c.icon[k].size, entry.height);
                EXPECT_EQ(c.icon[k].bits, entry.bitCount);
                EXPECT_EQ(c.icon[k].bits == 4 ? 16u : 0u, entry.colorCount);
                const std::vector<uint8_t> image = IconImageBytes(c.icon[k]);
                EXPECT_EQ(image.size(), entry.bytes);
                bool found = false;
                for (const Resource& icon : icons) {
                    if (icon.name.text.empty() && icon.name.id == entry.id) found = icon.data == image;
                }
                EXPECT_TRUE(found) << "image " << k << " missing or altered";
            }
        } else {
            EXPECT_EQ(Select(before, RESOURCE_ICON).size(), icons.size());
            EXPECT_TRUE(Select(before, RESOURCE_GROUP_ICON)[0].data ==
                        Select(after, RESOURCE_GROUP_ICON)[0].data);
        }
        // The string tables and the dialog are untouched.
        for (uint16_t type : {RESOURCE_STRING, uint16_t(5)}) {
            const std::vector<Resource> old = Select(before, type), now = Select(after, type);
            ASSERT_EQ(old.size(), now.size());
            for (size_t k = 0; k < old.size(); ++k) {
                EXPECT_TRUE(old[k].data == now[k].data && old[k].language == now[k].language &&
                            old[k].name == now[k].name);
            }
        }
        // Version strings: given keys changed or added, the others kept.
        ASSERT_TRUE(description.hasVersion);
        for (const auto& pair : original.strings) {
            bool given = false;
            for (const auto& change : c.version) given |= change.first == pair.first;
            if (!given) {
                EXPECT_EQ(pair.second, LookUp(description.version, pair.first));
            }
        }
        for (const auto& change : c.version) {
            EXPECT_EQ(change.second, LookUp(description.version, change.first));
        }
        EXPECT_EQ(c.fileVersion[0], description.version.fileVersion[0]);
        EXPECT_EQ(c.fileVersion[1], description.version.fileVersion[1]);
        EXPECT_EQ(c.productVersion[0], description.version.productVersion[0]);
        EXPECT_EQ(c.productVersion[1], description.version.productVersion[1]);
        // The manifest differs in the level's value only.
        std::string expected = ManifestOf(before);
        if (!c.level.empty()) {
            const size_t at = expected.find("\"highestAvailable\"");
            ASSERT_NE(std::string::npos, at);
            expected.replace(at + 1, strlen("highestAvailable"), c.level);
        }
        EXPECT_EQ(expected, ManifestOf(after));
        EXPECT_EQ(c.level.empty() ? "highestAvailable" : c.level, description.executionLevel);

        // PE: the checksum holds, and branding the result again changes nothing.
        const size_t optional = Le32(branded, 0x3C) + 24;
        EXPECT_EQ(PeChecksum(branded), Le32(branded, optional + 64));
        std::vector<uint8_t> again = branded;
        ASSERT_TRUE(BrandStub(again, branding, STUB_SIZE, error)) << error;
        EXPECT_TRUE(again == branded) << "branding is not repeatable";
    }
}

// The resources become the last section; the base relocations move into their old
// place unchanged, and everything before them keeps its bytes.
TEST(BrandStub, ResourcesBecomeTheLastSection) {
    const std::vector<uint8_t> stub = BuiltStub();
    if (stub.empty()) GTEST_SKIP() << "the tool was configured without the built stub";
    std::vector<uint8_t> branded = stub;
    std::string error;
    ASSERT_TRUE(BrandStub(branded, MakeBranding({}, {}, "asInvoker"), STUB_SIZE, error)) << error;
    const size_t optional = Le32(stub, 0x3C) + 24;
    const size_t table = optional + (stub[Le32(stub, 0x3C) + 20] | stub[Le32(stub, 0x3C) + 21] << 8);
    const unsigned count = stub[Le32(stub, 0x3C) + 6];
    auto section = [&](const std::vector<uint8_t>& image, const char* name) -> size_t {
        for (unsigned k = 0; k < count; ++k) {
            if (strncmp(reinterpret_cast<const char*>(&image[table + 40 * k]), name, 8) == 0) {
                return table + 40 * k;
            }
        }
        return 0;
    };
    const size_t oldResources = section(stub, ".rsrc"), oldRelocations = section(stub, ".reloc");
    const size_t newResources = section(branded, ".rsrc"), newRelocations = section(branded, ".reloc");
    ASSERT_TRUE(oldResources && oldRelocations && newResources && newRelocations);
    EXPECT_EQ(table + 40 * (count - 1), newResources);
    // Relocations: at the resources' old address and file offset, same bytes.
    EXPECT_EQ(Le32(stub, oldResources + 12), Le32(branded, newRelocations + 12));
    EXPECT_EQ(Le32(branded, newRelocations + 12), Le32(branded, optional + 96 + 8 * 5));
    const size_t relocationBytes = Le32(stub, oldRelocations + 16);
    EXPECT_EQ(0, memcmp(&stub[Le32(stub, oldRelocations + 20)],
                        &branded[Le32(branded, newRelocations + 20)], relocationBytes));
    // Resources: after the relocations; directory, SizeOfImage agree.
    const uint32_t address = Le32(branded, newResources + 12);
    EXPECT_EQ(address, Le32(branded, optional + 96 + 8 * 2));
    EXPECT_EQ(Le32(branded, newResources + 8), Le32(branded, optional + 96 + 8 * 2 + 4));
    EXPECT_EQ((address + Le32(branded, newResources + 8) + 0xFFF) / 0x1000 * 0x1000,
              Le32(branded, optional + 56));
    const size_t untouched = Le32(stub, oldResources + 20);
    for (size_t at = table + 40 * count; at < untouched; ++at) {
        ASSERT_EQ(stub[at], branded[at]) << "code or data moved at " << at;
    }
}

TEST(BrandStub, RefusesWhatDoesNotFitOrIsNotAnIcon) {
    const std::vector<uint8_t> stub = BuiltStub();
    if (stub.empty()) GTEST_SKIP() << "the tool was configured without the built stub";
    std::vector<uint8_t> truncated = IcoFile({{32, 4, false, 0}});
    truncated.resize(truncated.size() - 1);
    std::vector<uint8_t> headerOnly = {0, 0, 1, 0, 3, 0};
    struct Bad {
        const char* what;
        std::vector<uint8_t> ico;
        const char* message;
    } cases[] = {
        {"a PNG too large for the stub", IcoFile({{32, 32, true, 20000}}), "bytes over"},
        {"48x48", IcoFile({{48, 32, false, 0}}), "48x48, 32 bpp"},
        {"24 bpp", IcoFile({{32, 24, false, 0}}), "32x32, 24 bpp"},
        {"a 16-bit PNG", [] { auto i = IcoFile({{32, 32, true, 0}}); i[6 + 16 + 24] = 16; return i; }(),
         "cannot be used"},
        {"a bitmap cut short", truncated, "lies beyond its end"},
        {"a directory without images", headerOnly, "cut off"},
        {"a cursor file", [] { auto i = IcoFile({{32, 4, false, 0}}); i[2] = 2; return i; }(),
         "not an icon file"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> branded = stub;
        Branding branding;
        branding.iconPath = "vendor.ico";
        branding.icon = c.ico;
        std::string error;
        EXPECT_FALSE(BrandStub(branded, branding, STUB_SIZE, error));
        EXPECT_NE(std::string::npos, error.find(c.message)) << error;
        EXPECT_TRUE(branded == stub) << "the stub was changed by a failed branding";
    }
}

TEST(BrandStub, VersionArguments) {
    struct Row {
        const char* argument;
        const char* problem;  // "" when accepted
    } rows[] = {
        {"CompanyName=Hanabi Soft", ""},
        {"Comments=a=b, c", ""},
        {"InternalName=", ""},
        {"FileVersion=1.2.3.4", ""},
        {"ProductVersion=65535", ""},
        {"Company=Hanabi", "unknown key"},
        {"companyname=Hanabi", "unknown key"},
        {"CompanyName", "expected KEY=VALUE"},
        {"FileVersion=1.2.3.4.5", "not a version"},
        {"FileVersion=1.2.x", "not a version"},
        {"FileVersion=1..2", "not a version"},
        {"FileVersion=1.2.", "not a version"},
        {"ProductVersion=65536", "not a version"},
        {"ProductVersion=", "not a version"},
        {"ProductVersion=v2", "not a version"},
        {"Comments=\xC3\x28", "not valid UTF-8"},
    };
    for (const Row& row : rows) {
        std::string key, value;
        const std::string problem = CheckVersionArgument(row.argument, key, value);
        if (row.problem[0] == 0) {
            EXPECT_EQ("", problem) << row.argument;
        } else {
            EXPECT_NE(std::string::npos, problem.find(row.problem)) << row.argument << ": " << problem;
        }
    }
}

}  // namespace
