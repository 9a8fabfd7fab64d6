// Branding the built stub, read back with the tool's own resource reader: icon group,
// string table, version block, manifest, PE layout; and the inputs that must be refused.
#include <gtest/gtest.h>

#include <string.h>

#include "support.h"
#include "pe/brand.h"
#include "tools/pack_brand_options.h"

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
                                'I', 'H', 'D', 'R', 0, 0, uint8_t(image.size >> 8),
                                uint8_t(image.size), 0, 0, uint8_t(image.size >> 8),
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
    std::vector<ImageSpec> taken = {};  // the images expected in the group; {}: icon
    std::string title = "";
    int language = -1;
    const char* listedLanguage = "0411";  // the version strings' language read back
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
        {"six images at every depth: the deepest of each size, a bitmap before a PNG",
         {{32, 8, false, 0}, {16, 4, true, 0}, {32, 32, true, 0}, {16, 32, false, 0},
          {32, 32, false, 0}, {16, 8, false, 0}},
         {}, "", {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]},
         {{32, 32, false, 0}, {16, 32, false, 0}}},
        // 16-colour bitmaps leave the 48x48 PNG room, with some KB to spare as the stub grows.
        {"a 48x48 PNG where room is left, a 256x256 PNG left out",
         {{16, 4, false, 0}, {48, 32, true, 300}, {256, 32, true, 0}, {32, 4, false, 0}},
         {}, "", {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]},
         {{32, 4, false, 0}, {16, 4, false, 0}, {48, 32, true, 300}}},
        {"a 48x48 bitmap without room left out", {{48, 32, false, 0}, {32, 32, false, 0},
                                                  {16, 32, false, 0}},
         {}, "", {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]},
         {{32, 32, false, 0}, {16, 32, false, 0}}},
        {"version strings, new and replaced keys",
         {}, {{"CompanyName", "Hanabi Soft K.K."}, {"FileDescription", "Hanabi セットアップ"},
              {"LegalCopyright", "(c) 2026 Hanabi 🎆"}}, "",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}, {}, "", -1, "0409"},
        {"title and a named language", {}, {{"CompanyName", "花火ソフト"}}, "",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}, {},
         "花火ペイント セットアップ", 0x0411, "0411"},
        {"a title of the longest length, language alone", {}, {}, "",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}, {},
         std::string(255, 'W'), 0x0407, "0407"},
        {"dotted versions set the fixed info", {},
         {{"FileVersion", "2.3.40.65535"}, {"ProductVersion", "7.1"}}, "",
         {0x00020003, 0x0028FFFF}, {0x00070001, 0}, {}, "", -1, "0409"},
        {"execution level only", {}, {}, "asInvoker",
         {stubFile[0], stubFile[1]}, {stubProduct[0], stubProduct[1]}},
        {"everything at once", {{32, 32, true, 3000}, {16, 32, false, 0}},
         {{"ProductName", "Hanabi"}, {"FileVersion", "1.2.3.4"}, {"Comments", ""}},
         "requireAdministrator", {0x00010002, 0x00030004}, {stubProduct[0], stubProduct[1]},
         {}, "Hanabi Paint Setup", -1, "0409"},
    };
    for (const BrandCase& c : cases) {
        SCOPED_TRACE(c.what);
        Branding branding = MakeBranding(c.icon, c.version, c.level);
        branding.title = c.title;
        branding.versionLanguage = c.language;
        const std::vector<ImageSpec>& taken = c.taken.empty() ? c.icon : c.taken;
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
            ASSERT_EQ(taken.size(), description.icons.size());
            ASSERT_EQ(taken.size(), icons.size()) << "old images left behind";
            for (size_t k = 0; k < taken.size(); ++k) {
                const IconGroupEntry& entry = description.icons[k];
                EXPECT_EQ(taken[k].size, entry.width);
                EXPECT_EQ(taken[k].size, entry.height);
                EXPECT_EQ(taken[k].bits, entry.bitCount);
                EXPECT_EQ(taken[k].bits == 4 ? 16u : 0u, entry.colorCount);
                const std::vector<uint8_t> image = IconImageBytes(taken[k]);
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
        // The progress window's caption, the version strings' language.
        EXPECT_EQ(c.title.empty() ? "Setup is Self-Extracting" : c.title, description.title);
        EXPECT_EQ(c.listedLanguage, description.version.language);
        // The string tables and (without a title) the dialog are untouched.
        for (uint16_t type : {RESOURCE_STRING, uint16_t(c.title.empty() ? 5 : 6)}) {
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
        {"only sizes the setup does not use", IcoFile({{24, 32, false, 0}, {256, 32, true, 0}}),
         "no 16x16 or 32x32 image can be made"},
        {"a PNG of an impossible depth", [] { auto i = IcoFile({{32, 32, true, 0}}); i[6 + 16 + 24] = 3; return i; }(),
         "impossible colour type"},
        {"a bitmap cut short", truncated, "beyond the file's end"},
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
        {"Comments=a\x1b[2Jb", "control character"},
        {"CompanyName=Hanabi\nSoft", "control character"},
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

namespace {

// Bitmaps at depths the setup does not take become 32-bit ones: each pixel's colour
// kept, alpha opaque where the AND mask is 0 and clear where it is 1, the mask kept.
TEST(IconImages, ConvertedTo32BitsWithAlphaFromTheMask) {
    struct Row {
        unsigned bits;
        std::vector<uint8_t> palette, pixel;  // the first pixel's stored bytes
        uint32_t bgr;                         // what it becomes
    } rows[] = {
        {24, {}, {0x10, 0x80, 0xF0}, 0xF08010},
        {16, {}, {0xFF, 0x7F}, 0xFFFFFF},            // 0x7FFF: white in 5-5-5
        {16, {}, {0x1F, 0x00}, 0x0000FF},            // blue's five bits only
        {1, {0, 0, 0, 0, 0x33, 0x66, 0x99, 0}, {0x80}, 0x996633},  // index 1
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bits);
        const size_t colourRow = (16 * row.bits + 31) / 32 * 4;
        std::vector<uint8_t> image;
        Put32(image, 40), Put32(image, 16), Put32(image, 32);
        image.push_back(1), image.push_back(0), image.push_back(uint8_t(row.bits)), image.push_back(0);
        image.resize(40, 0);
        image.insert(image.end(), row.palette.begin(), row.palette.end());
        const size_t pixels = image.size();
        image.resize(pixels + colourRow * 16 + 4 * 16, 0);
        std::copy(row.pixel.begin(), row.pixel.end(), image.begin() + pixels);
        image[pixels + colourRow * 16 + 4 * 15] = 0x80;  // the top row's first pixel: clear

        std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, uint8_t(row.bits), 0};
        Put32(ico, static_cast<uint32_t>(image.size()));
        Put32(ico, 22);
        ico.insert(ico.end(), image.begin(), image.end());
        std::vector<IconImage> images, chosen;
        std::vector<std::string> leftOut;
        std::string error;
        ASSERT_TRUE(ParseIcoFile(ico, images, error)) << error;
        ASSERT_TRUE(ChooseIconImages(images, chosen, leftOut, error)) << error;
        ASSERT_EQ(1u, chosen.size());
        const std::vector<uint8_t>& out = chosen[0].data;
        EXPECT_TRUE(chosen[0].converted);
        ASSERT_EQ(40u + 16 * 16 * 4 + 4 * 16, out.size());
        EXPECT_EQ(32u, out[14]);
        EXPECT_EQ(row.bgr, out[40] | out[41] << 8 | uint32_t(out[42]) << 16);
        EXPECT_EQ(255, out[43]) << "an opaque pixel";
        EXPECT_EQ(0, out[40 + 15 * 64 + 3]) << "a pixel the mask clears";
        EXPECT_EQ(0x80, out[40 + 16 * 64 + 4 * 15]) << "the mask is kept";
        EXPECT_NE(std::string::npos, DescribeIconChoice(chosen, leftOut).find(
            "(16x16, " + std::to_string(row.bits) + " bpp, converted to 32 bpp)"));
    }
}

}  // namespace

namespace {

void PutText(std::vector<uint8_t>& out, const std::u16string& text) {
    for (char16_t unit : text) out.push_back(uint8_t(unit)), out.push_back(uint8_t(unit >> 8));
    out.push_back(0), out.push_back(0);
}

// The caption lies between the class and the font, and the controls after the font
// must stay DWORD-aligned from the template's start: in both template forms, with a
// menu given by ordinal and a class by name.
TEST(DialogCaption, ReplacedInBothTemplateFormsWithControlsAligned) {
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "DLGTEMPLATEEX" : "DLGTEMPLATE");
        std::vector<uint8_t> dialog;
        if (extended) {
            dialog = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};  // version, signature, help, ex
            Put32(dialog, 0x80C00048);                             // DS_SHELLFONT | ...
        } else {
            Put32(dialog, 0x80C000C0);
            Put32(dialog, 0);
        }
        dialog.insert(dialog.end(), {1, 0, 0, 0, 0, 0, 155, 0, 79, 0});  // one control
        dialog.insert(dialog.end(), {0xFF, 0xFF, 7, 0});                 // menu 7
        PutText(dialog, u"VendorClass");
        PutText(dialog, u"Setup is Self-Extracting");
        dialog.insert(dialog.end(), {8, 0});
        if (extended) dialog.insert(dialog.end(), {0x90, 1, 0, 1});  // weight, italic, charset
        PutText(dialog, u"MS Shell Dlg");
        while (dialog.size() % 4 != 0) dialog.push_back(0);
        const std::vector<uint8_t> control = {0xC0, 0xFE, 0xED, 0x50, 1, 2, 3, 4, 5, 6};
        dialog.insert(dialog.end(), control.begin(), control.end());

        for (const std::string& title : {std::string("Hanabi"), std::string("花火ペイント セットアップ")}) {
            std::vector<uint8_t> changed = dialog;
            ASSERT_TRUE(SetDialogCaption(changed, title));
            std::string caption;
            ASSERT_TRUE(ReadDialogCaption(changed, caption));
            EXPECT_EQ(title, caption);
            const size_t at = changed.size() - control.size();
            EXPECT_EQ(0u, at % 4) << "the controls are not DWORD-aligned";
            EXPECT_TRUE(std::equal(control.begin(), control.end(), changed.begin() + at));
            EXPECT_TRUE(std::equal(dialog.begin(), dialog.begin() + 18, changed.begin()));
        }
        std::vector<uint8_t> cut(dialog.begin(), dialog.begin() + 40);
        EXPECT_FALSE(SetDialogCaption(cut, "x")) << "a template cut short";
    }
}

}  // namespace
