// Fuzz target: the resource-section writer. A small program with the stub's resources
// (icon group I_1, string tables, dialog, version block, manifest, base relocations after
// the resources) is branded with an icon and version strings made from the input, or
// read after the input has overwritten some of its bytes. A branded result must be
// exactly the stub size, parse again and carry what was given; a failure must leave the
// program as it was.
//
// Input: byte 0 picks the mode (bit 0: raw .ico bytes instead of built images; bit 1:
// set an execution level; bit 7: damage the program and read it instead). Built images:
// count byte (1 to 7 images), then per image one byte (bit 0 size 16/32, bits 1-2 depth 4/8/32, bit 3
// PNG) and one byte of extra PNG length in 64-byte units. The rest: KEY\0VALUE\0 pairs,
// the key chosen by its first byte modulo 9.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "pe/brand.h"
#include "tools/pack_brand_options.h"

namespace {

const size_t STUB_SIZE = 49152;

[[noreturn]] void Broken(const std::string& what) {
    fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    abort();
}

void Put(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
    if (out.size() < at + bytes) out.resize(at + bytes, 0);
    for (int k = 0; k < bytes; ++k) out[at + k] = static_cast<uint8_t>(value >> 8 * k);
}

void Add(std::vector<uint8_t>& out, uint32_t value, int bytes) { Put(out, out.size(), value, bytes); }

// One version-block node with its children, 32-bit aligned.
std::vector<uint8_t> Node(const std::u16string& key, int type, const std::vector<uint8_t>& value,
                          uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> out(6, 0);
    for (char16_t unit : key) Add(out, unit, 2);
    Add(out, 0, 2);
    while (out.size() % 4) out.push_back(0);
    out.insert(out.end(), value.begin(), value.end());
    for (const auto& child : children) {
        while (out.size() % 4) out.push_back(0);
        out.insert(out.end(), child.begin(), child.end());
    }
    Put(out, 0, static_cast<uint32_t>(out.size()), 2);
    Put(out, 2, valueLength, 2);
    Put(out, 4, static_cast<uint32_t>(type), 2);
    return out;
}

std::vector<uint8_t> TextNode(const std::u16string& key, const std::u16string& text) {
    std::vector<uint8_t> value;
    for (char16_t unit : text) Add(value, unit, 2);
    Add(value, 0, 2);
    return Node(key, 1, value, static_cast<uint16_t>(text.size() + 1), {});
}

std::vector<uint8_t> BmpImage(unsigned size, unsigned bits) {
    std::vector<uint8_t> out;
    Add(out, 40, 4), Add(out, size, 4), Add(out, 2 * size, 4), Add(out, 1, 2), Add(out, bits, 2);
    out.resize(40, 0);
    const size_t palette = bits <= 8 ? 4u << bits : 0;
    out.resize(out.size() + palette + (size * bits + 31) / 32 * 4 * size + (size + 31) / 32 * 4 * size,
               0x33);
    return out;
}

std::vector<uint8_t> PngImage(unsigned size, unsigned bits, size_t extra) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13,
                                'I', 'H', 'D', 'R', 0, 0, 0, uint8_t(size), 0, 0, 0, uint8_t(size),
                                uint8_t(bits == 32 ? 8 : bits), uint8_t(bits == 32 ? 6 : 3), 0, 0, 0};
    out.resize(out.size() + 4 + extra, 0x44);
    return out;
}

Resource Make(uint16_t type, uint16_t id, const char16_t* name, uint16_t language,
              const std::vector<uint8_t>& data) {
    Resource resource;
    resource.type.id = type;
    resource.name.id = id;
    if (name != nullptr) resource.name.text = name;
    resource.language = language;
    resource.data = data;
    return resource;
}

// The program under test: headers, .text, an empty .rsrc and .reloc, then resources
// written by the writer itself.
const std::vector<uint8_t>& Program() {
    static std::vector<uint8_t> image;
    if (!image.empty()) return image;
    image.assign(0xA00, 0);
    image[0] = 'M', image[1] = 'Z';
    Put(image, 0x3C, 0x40, 4);
    memcpy(&image[0x40], "PE\0\0", 4);
    Put(image, 0x44, 0x14C, 2), Put(image, 0x46, 3, 2), Put(image, 0x54, 0xE0, 2);
    Put(image, 0x56, 0x10F, 2);
    const size_t optional = 0x58;
    Put(image, optional, 0x10B, 2), Put(image, optional + 32, 0x1000, 4);
    Put(image, optional + 36, 0x200, 4), Put(image, optional + 56, 0x4000, 4);
    Put(image, optional + 60, 0x400, 4), Put(image, optional + 92, 16, 4);
    Put(image, optional + 96 + 16, 0x2000, 4), Put(image, optional + 96 + 20, 16, 4);
    Put(image, optional + 96 + 40, 0x3000, 4), Put(image, optional + 96 + 44, 12, 4);
    const char* names[3] = {".text", ".rsrc", ".reloc"};
    for (int k = 0; k < 3; ++k) {
        const size_t header = optional + 0xE0 + 40 * k;
        memcpy(&image[header], names[k], strlen(names[k]));
        Put(image, header + 8, k == 2 ? 12 : 0x200, 4);
        Put(image, header + 12, 0x1000 * (k + 1), 4);
        Put(image, header + 16, 0x200, 4), Put(image, header + 20, 0x400 + 0x200 * k, 4);
        Put(image, header + 36, k == 0 ? 0x60000020 : 0x40000040, 4);
    }
    memset(&image[0x400], 0xC3, 0x200);
    Put(image, 0x800, 0x1000, 4), Put(image, 0x804, 12, 4), Put(image, 0x808, 0x3010, 2);

    std::vector<uint8_t> fixed;
    for (uint32_t word : {0xFEEF04BDu, 0x10000u, 0x10000u, 5u, 0x10000u, 5u, 0x3Fu, 0u, 4u, 1u,
                          0u, 0u, 0u}) {
        Add(fixed, word, 4);
    }
    const std::vector<uint8_t> version = Node(
        u"VS_VERSION_INFO", 0, fixed, 52,
        {Node(u"StringFileInfo", 1, {}, 0,
              {Node(u"041104b0", 1, {}, 0,
                    {TextNode(u"FileDescription", u"VORPANEX"), TextNode(u"FileVersion", u"1, 0, 0, 5")})}),
         Node(u"VarFileInfo", 1, {}, 0, {Node(u"Translation", 0, {0x11, 0x04, 0xB0, 0x04}, 4, {})})});
    const std::string manifest =
        "<assembly><trustInfo><security><requestedPrivileges>\n"
        "<requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>\n"
        "</requestedPrivileges></security></trustInfo></assembly>\n";
    std::vector<uint8_t> group = {0, 0, 1, 0, 1, 0, 16, 16, 16, 0, 1, 0, 4, 0};
    const std::vector<uint8_t> icon = BmpImage(16, 4);
    Add(group, static_cast<uint32_t>(icon.size()), 4), Add(group, 1, 2);
    const std::vector<Resource> resources = {
        Make(RESOURCE_ICON, 1, nullptr, 1041, icon),
        Make(5, 0, u"D_MAIN", 1041, std::vector<uint8_t>(200, 0x11)),
        Make(RESOURCE_STRING, 626, nullptr, 1033, std::vector<uint8_t>(90, 0x22)),
        Make(RESOURCE_STRING, 626, nullptr, 1041, std::vector<uint8_t>(150, 0x23)),
        Make(RESOURCE_GROUP_ICON, 0, u"I_1", 1041, group),
        Make(RESOURCE_VERSION, 1, nullptr, 1041, version),
        Make(RESOURCE_MANIFEST, 1, nullptr, 1041, std::vector<uint8_t>(manifest.begin(), manifest.end())),
    };
    std::string error;
    size_t overBy = 0;
    if (!WriteResources(image, resources, STUB_SIZE, error, overBy)) Broken("base program: " + error);
    return image;
}

std::string Lookup(const VersionInfo& info, const std::string& key) {
    std::string found = "<absent>";
    for (const auto& pair : info.strings) {
        if (pair.first == key) found = pair.second;
    }
    return found;
}

// Damaged programs: reading must fail cleanly or give resources that brand cleanly.
void ReadDamaged(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image = Program();
    for (size_t k = 0; k + 3 <= size; k += 3) {
        image[(data[k] | data[k + 1] << 8) % 0x1400] = data[k + 2];
    }
    std::vector<Resource> resources;
    std::string error;
    StubDescription description;
    DescribeStub(image, description, error);
    if (!ReadResources(image, resources, error)) return;
    Branding branding;
    branding.executionLevel = "asInvoker";
    std::vector<uint8_t> branded = image;
    if (BrandStub(branded, branding, STUB_SIZE, error)) {
        if (branded.size() != STUB_SIZE) Broken("branded size");
        if (!ReadResources(branded, resources, error)) Broken("branded program unreadable: " + error);
    } else if (branded != image) {
        Broken("a failed branding changed the program");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    if (mode & 0x80) {
        ReadDamaged(data + 1, size - 1);
        return 0;
    }
    size_t at = 1;
    Branding branding;
    branding.iconPath = "fuzz.ico";
    std::vector<std::pair<unsigned, unsigned>> expectedImages;  // size, depth
    std::vector<bool> pngImages;
    if (mode & 1) {
        const size_t length = at + 2 <= size ? (data[at] | data[at + 1] << 8) : 0;
        at += 2;
        const size_t take = at < size ? std::min(length, size - at) : 0;
        if (take > 0) branding.icon.assign(data + at, data + at + take);
        at += take;
    } else {
        const unsigned count = 1 + (at < size ? data[at++] % 7 : 0);
        std::vector<std::vector<uint8_t>> images;
        for (unsigned k = 0; k < count && at + 2 <= size; ++k, at += 2) {
            const unsigned imageSize = data[at] & 1 ? 32 : 16;
            const unsigned bits = (data[at] >> 1 & 3) == 0 ? 4 : (data[at] >> 1 & 3) == 1 ? 8 : 32;
            images.push_back(data[at] & 8 ? PngImage(imageSize, bits, 64u * data[at + 1])
                                          : BmpImage(imageSize, bits));
            expectedImages.emplace_back(imageSize, bits);
            pngImages.push_back((data[at] & 8) != 0);
        }
        Add(branding.icon, 0, 2), Add(branding.icon, 1, 2), Add(branding.icon, static_cast<uint32_t>(images.size()), 2);
        size_t offset = 6 + 16 * images.size();
        for (size_t k = 0; k < images.size(); ++k) {
            Add(branding.icon, expectedImages[k].first * 0x101, 2), Add(branding.icon, 0, 2);
            Add(branding.icon, 1, 2), Add(branding.icon, expectedImages[k].second, 2);
            Add(branding.icon, static_cast<uint32_t>(images[k].size()), 4);
            Add(branding.icon, static_cast<uint32_t>(offset), 4);
            offset += images[k].size();
        }
        for (const auto& image : images) branding.icon.insert(branding.icon.end(), image.begin(), image.end());
    }
    if (mode & 2) branding.executionLevel = mode & 4 ? "asInvoker" : "requireAdministrator";
    while (at < size) {
        const uint8_t* end = static_cast<const uint8_t*>(memchr(data + at, 0, size - at));
        const size_t keyEnd = end ? static_cast<size_t>(end - data) : size;
        const std::string key = VERSION_KEYS[data[at] % 9];
        at = keyEnd + 1;
        const uint8_t* valueEnd = at < size ? static_cast<const uint8_t*>(memchr(data + at, 0, size - at)) : nullptr;
        const size_t stop = valueEnd ? static_cast<size_t>(valueEnd - data) : size;
        const std::string value = at < size ? std::string(data + at, data + stop) : "";
        at = stop + 1;
        std::string checkedKey, checkedValue;
        if (CheckVersionArgument(key + "=" + value, checkedKey, checkedValue).empty()) {
            for (auto& pair : branding.versionInfo) {
                if (pair.first == key) pair.second = value;
            }
            bool present = false;
            for (const auto& pair : branding.versionInfo) present |= pair.first == key;
            if (!present) branding.versionInfo.emplace_back(key, value);
        }
    }

    const std::vector<uint8_t>& program = Program();
    std::vector<uint8_t> branded = program;
    std::string error;
    if (!BrandStub(branded, branding, STUB_SIZE, error)) {
        if (branded != program) Broken("a failed branding changed the program");
        if (error.empty()) Broken("a failure without a message");
        if (!(mode & 1) && !expectedImages.empty() && error.find("bytes over") == std::string::npos) {
            Broken("built images refused: " + error);
        }
        return 0;
    }
    if (branded.size() != STUB_SIZE) Broken("branded program is not the stub size");
    StubDescription description;
    if (!DescribeStub(branded, description, error)) Broken("branded program unreadable: " + error);
    if (!(mode & 1) && !expectedImages.empty()) {
        // One image per size, 32x32 first: the deepest, a bitmap before a PNG, the
        // first of equals.
        std::vector<std::pair<unsigned, unsigned>> taken;
        for (unsigned wanted : {32u, 16u}) {
            int best = -1;
            for (size_t k = 0; k < expectedImages.size(); ++k) {
                if (expectedImages[k].first != wanted) continue;
                if (best < 0 || expectedImages[k].second > expectedImages[best].second ||
                    (expectedImages[k].second == expectedImages[best].second &&
                     pngImages[best] && !pngImages[k])) {
                    best = static_cast<int>(k);
                }
            }
            if (best >= 0) taken.push_back(expectedImages[best]);
        }
        if (description.icons.size() != taken.size()) Broken("icon count");
        for (size_t k = 0; k < taken.size(); ++k) {
            if (description.icons[k].width != taken[k].first ||
                description.icons[k].bitCount != taken[k].second) {
                Broken("icon entry");
            }
        }
    }
    for (const auto& pair : branding.versionInfo) {
        if (Lookup(description.version, pair.first) != pair.second) Broken("version string " + pair.first);
    }
    const std::string level = branding.executionLevel.empty() ? "highestAvailable" : branding.executionLevel;
    if (description.executionLevel != level) Broken("execution level");
    const size_t optional = 0x58;
    const uint32_t stored = branded[optional + 64] | branded[optional + 65] << 8 |
                            branded[optional + 66] << 16 | uint32_t(branded[optional + 67]) << 24;
    if (stored != PeChecksum(branded)) Broken("checksum");
    return 0;
}
