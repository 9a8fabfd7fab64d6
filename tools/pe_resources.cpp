// Reading and rebuilding the resource section of a PE32 program, and the three
// resources that branding replaces: icon group, version block, manifest.
//
// Format notes:
// - PE: "MZ", e_lfanew at 0x3C -> "PE\0\0", COFF header (20 bytes: sections at +2,
//   optional header size at +16), optional header (PE32 magic 0x10B; from its start:
//   SizeOfInitializedData +8, SectionAlignment +32, FileAlignment +36, SizeOfImage +56,
//   SizeOfHeaders +60, CheckSum +64, NumberOfRvaAndSizes +92, data directories +96, eight
//   bytes each: 2 resources, 4 certificates (a file offset), 5 base relocations, 6 debug).
//   Section headers, 40 bytes: name, VirtualSize +8, VirtualAddress +12, SizeOfRawData
//   +16, PointerToRawData +20, Characteristics +36.
// - Resource directory: three levels (type, name, language) of tables: 16-byte header
//   with the counts of named and numbered entries at +12 and +14, then 8-byte entries
//   (name: high bit = offset of a length-prefixed UTF-16 string; child: high bit =
//   offset of a table, else of a 16-byte data entry: RVA, size, code page). Named
//   entries come first, in ascending order, then numbered ones, ascending.
// - Icon group: 6-byte header (0, 1, count), 14-byte entries (width, height, colours,
//   0, planes, bit count, bytes, icon id). An .ico file has the same header, 16-byte
//   entries ending in the image's file offset instead of the id.
// - Version block: nodes of wLength, wValueLength, wType (1 = text, counted in UTF-16
//   units), a NUL-terminated UTF-16 key, the value and the children, each 32-bit aligned.
#include "tools/pe_resources.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>

namespace {

uint16_t Get16(const std::vector<uint8_t>& data, size_t at) {
    return static_cast<uint16_t>(data[at] | data[at + 1] << 8);
}

uint32_t Get32(const std::vector<uint8_t>& data, size_t at) {
    return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
           static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

uint32_t GetBig32(const std::vector<uint8_t>& data, size_t at) {
    return static_cast<uint32_t>(data[at]) << 24 | static_cast<uint32_t>(data[at + 1]) << 16 |
           static_cast<uint32_t>(data[at + 2]) << 8 | static_cast<uint32_t>(data[at + 3]);
}

void Put16(std::vector<uint8_t>& data, size_t at, uint32_t value) {
    data[at] = static_cast<uint8_t>(value);
    data[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& data, size_t at, uint32_t value) {
    for (int k = 0; k < 4; ++k) data[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

void Append16(std::vector<uint8_t>& data, uint32_t value) {
    data.push_back(static_cast<uint8_t>(value));
    data.push_back(static_cast<uint8_t>(value >> 8));
}

void Append32(std::vector<uint8_t>& data, uint32_t value) {
    Append16(data, value & 0xFFFF);
    Append16(data, value >> 16);
}

void PadTo(std::vector<uint8_t>& data, size_t alignment) {
    while (data.size() % alignment != 0) data.push_back(0);
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// --- PE headers ---

const size_t SECTION_HEADER_SIZE = 40;
const unsigned DIRECTORY_CERTIFICATES = 4;
const unsigned DIRECTORY_RESOURCES = 2;
const unsigned DIRECTORY_RELOCATIONS = 5;
const unsigned DIRECTORY_DEBUG = 6;

struct Section {
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
    size_t headerOffset;
    std::string name;
};

struct PeLayout {
    size_t optional = 0;    // offset of the optional header
    size_t directories = 0; // offset of the data directories
    unsigned directoryCount = 0;
    uint32_t fileAlignment = 0, sectionAlignment = 0;
    std::vector<Section> sections;
    int resourceSection = -1;
};

bool ParsePe(const std::vector<uint8_t>& image, PeLayout& pe, std::string& error) {
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') {
        error = "not a Windows program (no MZ header)";
        return false;
    }
    const size_t peOffset = Get32(image, 0x3C);
    if (peOffset > image.size() || image.size() - peOffset < 24 ||
        memcmp(&image[peOffset], "PE\0\0", 4) != 0) {
        error = "not a PE program (no PE header)";
        return false;
    }
    const unsigned sectionCount = Get16(image, peOffset + 6);
    const size_t optionalSize = Get16(image, peOffset + 20);
    pe.optional = peOffset + 24;
    if (optionalSize < 96 || image.size() - pe.optional < optionalSize ||
        Get16(image, pe.optional) != 0x10B) {
        error = "not a 32-bit PE program (PE32 optional header expected)";
        return false;
    }
    pe.directories = pe.optional + 96;
    pe.directoryCount = std::min<uint32_t>(Get32(image, pe.optional + 92),
                                           static_cast<uint32_t>((optionalSize - 96) / 8));
    pe.sectionAlignment = Get32(image, pe.optional + 32);
    pe.fileAlignment = Get32(image, pe.optional + 36);
    if (pe.fileAlignment < 512 || pe.fileAlignment > 65536 ||
        (pe.fileAlignment & (pe.fileAlignment - 1)) != 0 ||
        pe.sectionAlignment < pe.fileAlignment ||
        (pe.sectionAlignment & (pe.sectionAlignment - 1)) != 0) {
        error = "the program's section or file alignment is invalid";
        return false;
    }
    const size_t table = pe.optional + optionalSize;
    if (sectionCount == 0 || sectionCount > 96 ||
        image.size() - table < sectionCount * SECTION_HEADER_SIZE) {
        error = "the program's section table is damaged";
        return false;
    }
    pe.sections.clear();
    pe.resourceSection = -1;
    const uint32_t resourceAddress =
        pe.directoryCount > DIRECTORY_RESOURCES
            ? Get32(image, pe.directories + 8 * DIRECTORY_RESOURCES) : 0;
    for (unsigned k = 0; k < sectionCount; ++k) {
        Section section;
        section.headerOffset = table + k * SECTION_HEADER_SIZE;
        section.name.assign(reinterpret_cast<const char*>(&image[section.headerOffset]),
                            strnlen(reinterpret_cast<const char*>(&image[section.headerOffset]), 8));
        section.virtualSize = Get32(image, section.headerOffset + 8);
        section.virtualAddress = Get32(image, section.headerOffset + 12);
        section.rawSize = Get32(image, section.headerOffset + 16);
        section.rawPointer = Get32(image, section.headerOffset + 20);
        if (section.rawSize > 0 && (section.rawPointer > image.size() ||
                                    image.size() - section.rawPointer < section.rawSize)) {
            error = "the program's section " + section.name + " lies beyond the file's end";
            return false;
        }
        if (resourceAddress != 0 && section.virtualAddress == resourceAddress) {
            pe.resourceSection = static_cast<int>(k);
        }
        pe.sections.push_back(section);
    }
    return true;
}

// --- reading the resource directory ---

const unsigned MAX_RESOURCES = 65536;  // shell32.dll has over 4096

struct DirectoryReader {
    const std::vector<uint8_t>& image;
    size_t base;       // file offset of the section
    size_t size;       // bytes of the section present in the file
    uint32_t address;  // its RVA
    std::vector<Resource>& resources;
    std::string& error;
    unsigned visited = 0;
    size_t dataBytes = 0;  // resources do not share bytes, so this stays within size

    bool Fail(const char* what) {
        error = std::string("the resource directory is damaged: ") + what;
        return false;
    }

    bool ReadName(uint32_t field, ResourceName& name) {
        if ((field & 0x80000000u) == 0) {
            if (field > 0xFFFF) return Fail("an entry's number is out of range");
            name.id = static_cast<uint16_t>(field);
            return true;
        }
        const size_t at = field & 0x7FFFFFFFu;
        if (at > size || size - at < 2) return Fail("a name lies outside the section");
        const size_t length = Get16(image, base + at);
        if (length == 0 || (size - at - 2) / 2 < length) return Fail("a name is cut off");
        for (size_t k = 0; k < length; ++k) {
            name.text.push_back(static_cast<char16_t>(Get16(image, base + at + 2 + 2 * k)));
        }
        return true;
    }

    // Level 0: types, 1: names, 2: languages (whose entries are the data).
    bool ReadTable(size_t at, int level, Resource& path) {
        if (at > size || size - at < 16) return Fail("a table lies outside the section");
        const size_t count = Get16(image, base + at + 12) + size_t(Get16(image, base + at + 14));
        if ((size - at - 16) / 8 < count) return Fail("a table's entries are cut off");
        for (size_t k = 0; k < count; ++k) {
            if (++visited > MAX_RESOURCES) return Fail("too many entries");
            const size_t entry = base + at + 16 + 8 * k;
            ResourceName name;
            if (!ReadName(Get32(image, entry), name)) return false;
            const uint32_t child = Get32(image, entry + 4);
            const bool isTable = (child & 0x80000000u) != 0;
            if (isTable != (level < 2)) return Fail("the tree is not three levels deep");
            if (level == 0) path.type = name;
            if (level == 1) path.name = name;
            if (level < 2) {
                if (!ReadTable(child & 0x7FFFFFFFu, level + 1, path)) return false;
                continue;
            }
            if (!name.text.empty()) return Fail("a language is a name");
            if (child > size || size - child < 16) return Fail("a data entry lies outside");
            const uint32_t dataAddress = Get32(image, base + child);
            const uint32_t dataSize = Get32(image, base + child + 4);
            if (dataAddress < address || dataAddress - address > size ||
                size - (dataAddress - address) < dataSize) {
                return Fail("a resource's data lie outside the section");
            }
            if ((dataBytes += dataSize) > size) return Fail("resources overlap");
            Resource resource = path;
            resource.language = name.id;
            resource.codePage = Get32(image, base + child + 8);
            const size_t from = base + (dataAddress - address);
            resource.data.assign(image.begin() + from, image.begin() + from + dataSize);
            resources.push_back(std::move(resource));
        }
        return true;
    }
};

// --- writing the resource directory ---

// Named entries first, in code-unit order, then numbered ones, ascending.
bool NameBefore(const ResourceName& a, const ResourceName& b) {
    if (a.text.empty() != b.text.empty()) return !a.text.empty();
    if (!a.text.empty()) return a.text < b.text;
    return a.id < b.id;
}

struct NameOrder {
    bool operator()(const ResourceName& a, const ResourceName& b) const { return NameBefore(a, b); }
};

// The section's bytes for resources placed at RVA address.
std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& resources,
                                          uint32_t address) {
    typedef std::map<uint16_t, const Resource*> Languages;
    typedef std::map<ResourceName, Languages, NameOrder> Names;
    std::map<ResourceName, Names, NameOrder> tree;
    for (const Resource& resource : resources) {
        tree[resource.type][resource.name][resource.language] = &resource;
    }
    // Sizes: tables, then data entries, then name strings, then the data.
    size_t tables = 16 + 8 * tree.size();
    size_t entries = 0;
    for (const auto& type : tree) {
        tables += 16 + 8 * type.second.size();
        for (const auto& name : type.second) {
            tables += 16 + 8 * name.second.size();
            entries += name.second.size();
        }
    }
    std::map<std::u16string, uint32_t> strings;
    size_t stringBytes = 0;
    auto noteString = [&](const ResourceName& name) {
        if (name.text.empty() || strings.count(name.text)) return;
        strings[name.text] = static_cast<uint32_t>(tables + 16 * entries + stringBytes);
        stringBytes += 2 + 2 * name.text.size();
    };
    for (const auto& type : tree) {
        noteString(type.first);
        for (const auto& name : type.second) noteString(name.first);
    }
    std::vector<uint8_t> out(AlignUp(tables + 16 * entries + stringBytes, 8), 0);
    for (const auto& text : strings) {
        Put16(out, text.second, static_cast<uint32_t>(text.first.size()));
        for (size_t k = 0; k < text.first.size(); ++k) {
            Put16(out, text.second + 2 + 2 * k, text.first[k]);
        }
    }
    size_t nextTable = 0, nextEntry = tables;
    auto nameField = [&](const ResourceName& name) -> uint32_t {
        return name.text.empty() ? name.id : (0x80000000u | strings[name.text]);
    };
    auto writeHeader = [&](size_t at, size_t named, size_t numbered) {
        Put16(out, at + 12, static_cast<uint32_t>(named));
        Put16(out, at + 14, static_cast<uint32_t>(numbered));
    };
    auto countNamed = [](const auto& children) {
        size_t named = 0;
        for (const auto& child : children) named += child.first.text.empty() ? 0 : 1;
        return named;
    };
    const size_t root = nextTable;
    nextTable += 16 + 8 * tree.size();
    writeHeader(root, countNamed(tree), tree.size() - countNamed(tree));
    size_t typeIndex = 0;
    for (const auto& type : tree) {
        const size_t typeTable = nextTable;
        nextTable += 16 + 8 * type.second.size();
        Put32(out, root + 16 + 8 * typeIndex, nameField(type.first));
        Put32(out, root + 16 + 8 * typeIndex + 4, 0x80000000u | static_cast<uint32_t>(typeTable));
        ++typeIndex;
        writeHeader(typeTable, countNamed(type.second), type.second.size() - countNamed(type.second));
        size_t nameIndex = 0;
        for (const auto& name : type.second) {
            const size_t nameTable = nextTable;
            nextTable += 16 + 8 * name.second.size();
            Put32(out, typeTable + 16 + 8 * nameIndex, nameField(name.first));
            Put32(out, typeTable + 16 + 8 * nameIndex + 4,
                  0x80000000u | static_cast<uint32_t>(nameTable));
            ++nameIndex;
            writeHeader(nameTable, 0, name.second.size());
            size_t languageIndex = 0;
            for (const auto& language : name.second) {
                Put32(out, nameTable + 16 + 8 * languageIndex, language.first);
                Put32(out, nameTable + 16 + 8 * languageIndex + 4,
                      static_cast<uint32_t>(nextEntry));
                ++languageIndex;
                const Resource& resource = *language.second;
                Put32(out, nextEntry, address + static_cast<uint32_t>(out.size()));
                Put32(out, nextEntry + 4, static_cast<uint32_t>(resource.data.size()));
                Put32(out, nextEntry + 8, resource.codePage);
                nextEntry += 16;
                out.insert(out.end(), resource.data.begin(), resource.data.end());
                PadTo(out, 8);
            }
        }
    }
    return out;
}

// --- version block ---

struct VersionNode {
    std::u16string key;
    uint16_t type = 0;
    uint16_t valueLength = 0;
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};

bool ParseVersionNode(const std::vector<uint8_t>& data, size_t at, size_t limit, int depth,
                      VersionNode& node, size_t& length) {
    if (depth > 4 || at > limit || limit - at < 6) return false;
    length = Get16(data, at);
    if (length < 6 || length > limit - at) return false;
    const size_t end = at + length;
    node.valueLength = Get16(data, at + 2);
    node.type = Get16(data, at + 4);
    size_t position = at + 6;
    for (;;) {
        if (end - position < 2) return false;
        const char16_t unit = static_cast<char16_t>(Get16(data, position));
        position += 2;
        if (unit == 0) break;
        node.key.push_back(unit);
    }
    position = std::min(end, static_cast<size_t>(AlignUp(position, 4)));
    const size_t valueBytes =
        std::min(end - position, size_t(node.valueLength) * (node.type == 1 ? 2 : 1));
    node.value.assign(data.begin() + position, data.begin() + position + valueBytes);
    position += valueBytes;
    for (;;) {
        position = AlignUp(position, 4);
        if (position + 6 > end) break;
        VersionNode child;
        size_t childLength = 0;
        if (!ParseVersionNode(data, position, end, depth + 1, child, childLength)) return false;
        node.children.push_back(std::move(child));
        position += childLength;
    }
    return true;
}

bool SerializeVersionNode(const VersionNode& node, std::vector<uint8_t>& out) {
    PadTo(out, 4);
    const size_t start = out.size();
    Append16(out, 0);
    Append16(out, node.valueLength);
    Append16(out, node.type);
    for (char16_t unit : node.key) Append16(out, unit);
    Append16(out, 0);
    PadTo(out, 4);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        if (!SerializeVersionNode(child, out)) return false;
    }
    if (out.size() - start > 0xFFFF) return false;
    Put16(out, start, static_cast<uint32_t>(out.size() - start));
    return true;
}

std::u16string ValueText(const VersionNode& node) {
    std::u16string text;
    for (size_t k = 0; k + 1 < node.value.size(); k += 2) {
        const char16_t unit = static_cast<char16_t>(Get16(node.value, k));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        int extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1
                  : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
        if (extra < 0 || text.size() - i <= static_cast<size_t>(extra)) return false;
        uint32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        static const uint32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
        if (point < smallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) {
            return false;
        }
        if (point >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
        i += extra + 1;
    }
    return true;
}

void SetText(VersionNode& node, const std::u16string& text) {
    node.type = 1;
    node.valueLength = static_cast<uint16_t>(text.size() + 1);
    node.value.clear();
    for (char16_t unit : text) Append16(node.value, unit);
    Append16(node.value, 0);
}

const size_t FIXED_INFO_SIZE = 52;
const uint32_t FIXED_INFO_SIGNATURE = 0xFEEF04BD;

std::u16string HexDigits(unsigned value, int digits) {
    std::u16string text;
    for (int k = digits - 1; k >= 0; --k) text += u"0123456789abcdef"[value >> (4 * k) & 15];
    return text;
}

// The first string table takes the language's key, keeping its code page half; a later
// table that already had that key goes, so that the key stays unique.
void RenameStringTable(std::vector<VersionNode>& tables, unsigned language) {
    std::u16string key = HexDigits(language, 4);
    key += tables[0].key.size() == 8 ? tables[0].key.substr(4) : u"04b0";
    tables[0].key = key;
    for (size_t k = tables.size(); k-- > 1;) {
        if (tables[k].key.size() == 8 && tables[k].key.substr(0, 4) == key.substr(0, 4)) {
            tables.erase(tables.begin() + static_cast<long>(k));
        }
    }
}

// The first language and code page pair of VarFileInfo's Translation names language.
void SetTranslation(VersionNode& root, unsigned language) {
    for (VersionNode& child : root.children) {
        if (child.key != u"VarFileInfo") continue;
        for (VersionNode& var : child.children) {
            if (var.key == u"Translation" && var.value.size() >= 4) Put16(var.value, 0, language);
        }
    }
}

// Sets the version strings in every string table and, when language is not -1, names
// that language in the first table's key ("040904b0": language, then code page) and in
// the first Translation pair.
bool ApplyVersionInfo(std::vector<uint8_t>& data,
                      const std::vector<std::pair<std::string, std::string>>& values,
                      int language, std::string& error) {
    VersionNode root;
    size_t length = 0;
    if (!ParseVersionNode(data, 0, data.size(), 0, root, length) ||
        root.value.size() < FIXED_INFO_SIZE || Get32(root.value, 0) != FIXED_INFO_SIGNATURE) {
        error = "the stub's version block is damaged";
        return false;
    }
    std::vector<VersionNode*> tables;
    for (VersionNode& child : root.children) {
        if (child.key != u"StringFileInfo") continue;
        if (language >= 0 && !child.children.empty()) {
            RenameStringTable(child.children, static_cast<unsigned>(language));
        }
        for (VersionNode& table : child.children) tables.push_back(&table);
    }
    if (tables.empty()) {
        error = "the stub's version block has no string table";
        return false;
    }
    if (language >= 0) SetTranslation(root, static_cast<unsigned>(language));
    for (const auto& pair : values) {
        std::u16string key, text;
        Utf8ToUtf16(pair.first, key);
        if (!Utf8ToUtf16(pair.second, text) || text.size() > 4096) {
            error = "--version-info " + pair.first + ": the value is not UTF-8 of at most "
                    "4096 characters";
            return false;
        }
        for (VersionNode* table : tables) {
            VersionNode* target = nullptr;
            for (VersionNode& string : table->children) {
                if (string.key == key) target = &string;
            }
            if (target == nullptr) {
                table->children.emplace_back();
                target = &table->children.back();
                target->key = key;
            }
            SetText(*target, text);
        }
        uint32_t words[2];
        const size_t slot = pair.first == "FileVersion" ? 8 : pair.first == "ProductVersion" ? 16 : 0;
        if (slot != 0 && ParseDottedVersion(pair.second, words)) {
            Put32(root.value, slot, words[0]);
            Put32(root.value, slot + 4, words[1]);
        }
    }
    std::vector<uint8_t> rebuilt;
    if (!SerializeVersionNode(root, rebuilt)) {
        error = "the version information is longer than a version block holds (64 KiB)";
        return false;
    }
    data.swap(rebuilt);
    return true;
}

// --- icons ---

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Size and depth from a PNG's IHDR chunk: bits per pixel are the channels of its colour
// type times the bits per channel (RGBA at 16 bits per channel: 64).
bool DescribePng(const std::vector<uint8_t>& data, IconImage& image) {
    if (data.size() < 33 || memcmp(data.data(), PNG_SIGNATURE, 8) != 0 ||
        GetBig32(data, 8) != 13 || memcmp(&data[12], "IHDR", 4) != 0) {
        return false;
    }
    image.png = true;
    image.width = GetBig32(data, 16);
    image.height = GetBig32(data, 20);
    const unsigned depth = data[24], colourType = data[25];
    const bool depthFits = colourType == 0 ? depth <= 16 && (depth & (depth - 1)) == 0
                         : colourType == 3 ? depth >= 1 && depth <= 8 && (depth & (depth - 1)) == 0
                         : (colourType == 2 || colourType == 4 || colourType == 6) &&
                               (depth == 8 || depth == 16);
    if (!depthFits || depth == 0) {
        image.problem = "a PNG with an impossible colour type and depth";
        return true;
    }
    const unsigned channels[7] = {1, 0, 3, 1, 2, 0, 4};
    image.bitCount = channels[colourType] * depth;
    return true;
}

// Where an icon bitmap's colour rows start: after the header and the palette.
size_t BitmapPixels(const std::vector<uint8_t>& data) {
    const unsigned bits = Get16(data, 14);
    uint32_t colours = bits <= 8 ? Get32(data, 32) : 0;
    if (bits <= 8 && (colours == 0 || colours > (1u << bits))) colours = 1u << bits;
    return 40 + 4 * size_t(colours);
}

// What a complete icon bitmap takes: header, palette, colour rows, mask rows.
size_t BitmapSize(const std::vector<uint8_t>& data) {
    const size_t width = Get32(data, 4), bits = Get16(data, 14);
    return BitmapPixels(data) + ((width * bits + 31) / 32 * 4 + (width + 31) / 32 * 4) * width;
}

// Size and depth from an icon bitmap's BITMAPINFOHEADER (its height counts the colour
// rows and the AND mask rows); problem says why a bitmap whose header reads cannot be
// used, such as rows that lie beyond the image's end.
bool DescribeBitmap(const std::vector<uint8_t>& data, IconImage& image) {
    if (data.size() < 40 || Get32(data, 0) != 40) return false;
    const int32_t width = static_cast<int32_t>(Get32(data, 4));
    const int32_t height = static_cast<int32_t>(Get32(data, 8));
    const unsigned planes = Get16(data, 12), bits = Get16(data, 14);
    if (width <= 0 || width > 256 || height != 2 * width || planes != 1) return false;
    image.width = image.height = static_cast<unsigned>(width);
    image.bitCount = bits;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        image.problem = "a bitmap depth that icons do not have";
        return true;
    }
    if ((bits == 16 || bits == 24) && Get32(data, 16) != 0) {
        image.problem = "a compressed bitmap";
        return true;
    }
    if (data.size() < BitmapSize(data)) image.problem = "the bitmap is cut short";
    return true;
}

// A complete bitmap at 1, 16 (5-5-5) or 24 bits per pixel as a 32-bit one, which every
// Windows since XP draws: alpha is opaque where the AND mask is 0, clear where it is 1,
// and the mask is kept.
IconImage ConvertTo32Bits(const IconImage& source) {
    const std::vector<uint8_t>& in = source.data;
    const size_t width = source.width, bits = Get16(in, 14);
    const size_t inRow = (width * bits + 31) / 32 * 4, maskRow = (width + 31) / 32 * 4;
    const size_t pixels = BitmapPixels(in), mask = pixels + inRow * width;
    IconImage out = source;
    out.converted = true;
    out.data.assign(in.begin(), in.begin() + 40);
    Put16(out.data, 14, 32);
    Put32(out.data, 16, 0);
    Put32(out.data, 20, static_cast<uint32_t>(width * width * 4 + maskRow * width));
    Put32(out.data, 32, 0);
    Put32(out.data, 36, 0);
    for (size_t y = 0; y < width; ++y) {  // rows bottom-up, as stored
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* row = &in[pixels + y * inRow];
            uint8_t blue, green, red;
            if (bits == 1) {
                const size_t entry = 40 + 4 * ((row[x / 8] >> (7 - x % 8)) & 1);
                blue = in[entry], green = in[entry + 1], red = in[entry + 2];
            } else if (bits == 16) {
                const unsigned value = row[2 * x] | row[2 * x + 1] << 8;
                blue = static_cast<uint8_t>((value & 31) * 255 / 31);
                green = static_cast<uint8_t>((value >> 5 & 31) * 255 / 31);
                red = static_cast<uint8_t>((value >> 10 & 31) * 255 / 31);
            } else {
                blue = row[3 * x], green = row[3 * x + 1], red = row[3 * x + 2];
            }
            const bool clear = (in[mask + y * maskRow + x / 8] >> (7 - x % 8)) & 1;
            out.data.push_back(blue);
            out.data.push_back(green);
            out.data.push_back(red);
            out.data.push_back(clear ? 0 : 255);
        }
    }
    out.data.insert(out.data.end(), in.begin() + mask, in.begin() + mask + maskRow * width);
    return out;
}

std::string ImageText(const IconImage& image) {
    char text[96];
    snprintf(text, sizeof text, "image %u (%ux%u, %u bpp%s)", image.index, image.width,
             image.height, image.bitCount, image.png ? ", PNG" : "");
    return text;
}

// How well an image serves at its size: more bits per pixel first (Windows draws at
// most 32), then a bitmap as stored (drawn by every Windows), a PNG (Vista and later),
// a bitmap converted to 32 bits.
unsigned ImageRank(const IconImage& image) {
    const unsigned kind = image.png ? 2 : image.bitCount == 4 || image.bitCount == 8 ||
                                          image.bitCount == 32 ? 3 : 1;
    return std::min(image.bitCount, 32u) * 4 + kind;
}

const unsigned MAX_ICON_IMAGES = 64;

}  // namespace

// --- public: PE ---

bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>& resources,
                   std::string& error) {
    resources.clear();
    PeLayout pe;
    if (!ParsePe(image, pe, error)) return false;
    if (pe.resourceSection < 0) {
        error = "the program has no resource section";
        return false;
    }
    const Section& section = pe.sections[pe.resourceSection];
    DirectoryReader reader{image, section.rawPointer,
                           std::min(section.rawSize, section.virtualSize ? section.virtualSize
                                                                         : section.rawSize),
                           section.virtualAddress, resources, error};
    Resource path;
    return reader.ReadTable(0, 0, path);
}

uint32_t PeChecksum(const std::vector<uint8_t>& image) {
    PeLayout pe;
    std::string error;
    const size_t field = ParsePe(image, pe, error) ? pe.optional + 64 : image.size();
    auto byteAt = [&](size_t at) -> uint32_t {
        return at >= image.size() || (at >= field && at < field + 4) ? 0 : image[at];
    };
    uint64_t sum = 0;
    for (size_t at = 0; at < image.size(); at += 2) {
        sum += byteAt(at) | byteAt(at + 1) << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size());
}

bool WriteResources(std::vector<uint8_t>& image, const std::vector<Resource>& resources,
                    size_t fileSize, std::string& error, size_t& overBy) {
    overBy = 0;
    PeLayout pe;
    if (!ParsePe(image, pe, error)) return false;
    if (pe.resourceSection < 0) {
        error = "the program has no resource section";
        return false;
    }
    const size_t first = static_cast<size_t>(pe.resourceSection);
    const Section resourceSection = pe.sections[first];
    const uint32_t relocationAddress =
        pe.directoryCount > DIRECTORY_RELOCATIONS
            ? Get32(image, pe.directories + 8 * DIRECTORY_RELOCATIONS) : 0;
    if (pe.directoryCount > DIRECTORY_CERTIFICATES &&
        Get32(image, pe.directories + 8 * DIRECTORY_CERTIFICATES + 4) != 0) {
        error = "the stub is signed; brand an unsigned stub (sign the setup afterwards)";
        return false;
    }
    // Everything before the resource section stays where it is; only the base
    // relocations (which nothing addresses but their directory entry) may follow it,
    // and they move down into its place.
    for (size_t k = 0; k < pe.sections.size(); ++k) {
        const Section& section = pe.sections[k];
        if (k > first && section.virtualAddress != relocationAddress) {
            error = "the stub's section " + section.name + " follows its resources and "
                    "cannot be moved";
            return false;
        }
        if (k > 0 && section.virtualAddress <= pe.sections[k - 1].virtualAddress) {
            error = "the stub's sections are not in address order";
            return false;
        }
        if (k < first && section.rawSize > 0 &&
            section.rawPointer + uint64_t(section.rawSize) > resourceSection.rawPointer) {
            error = "the stub's section " + section.name + " lies after its resources in the file";
            return false;
        }
        if (k > first && section.rawSize > 0 && section.rawPointer < resourceSection.rawPointer) {
            error = "the stub's section " + section.name + " lies before its resources in the file";
            return false;
        }
    }
    if (resourceSection.rawPointer == 0 || resourceSection.rawPointer > image.size()) {
        error = "the stub's resource section has no data in the file";
        return false;
    }
    // No relocation may patch the sections that move.
    if (relocationAddress != 0 && first + 1 < pe.sections.size()) {
        const Section& relocations = pe.sections[first + 1];
        const size_t size = Get32(image, pe.directories + 8 * DIRECTORY_RELOCATIONS + 4);
        for (size_t at = 0; at + 8 <= size && at + 8 <= relocations.rawSize;) {
            const uint32_t page = Get32(image, relocations.rawPointer + at);
            const uint32_t blockSize = Get32(image, relocations.rawPointer + at + 4);
            if (page + 0x1000ull > resourceSection.virtualAddress) {
                error = "the stub relocates addresses inside its resources";
                return false;
            }
            if (blockSize < 8) break;
            at += blockSize;
        }
    }

    // The new layout: the moved sections, then the resources.
    std::vector<uint8_t> out(image.begin(), image.begin() + resourceSection.rawPointer);
    std::vector<Section> placed;
    uint64_t address = resourceSection.virtualAddress;
    for (size_t k = first + 1; k < pe.sections.size(); ++k) {
        Section section = pe.sections[k];
        const size_t from = section.rawPointer;
        section.rawPointer = section.rawSize ? static_cast<uint32_t>(out.size()) : 0;
        out.insert(out.end(), image.begin() + from, image.begin() + from + section.rawSize);
        PadTo(out, pe.fileAlignment);
        section.virtualAddress = static_cast<uint32_t>(address);
        address = AlignUp(address + std::max(section.virtualSize, section.rawSize),
                          pe.sectionAlignment);
        placed.push_back(section);
    }
    Section resources2 = resourceSection;
    resources2.virtualAddress = static_cast<uint32_t>(address);
    resources2.rawPointer = static_cast<uint32_t>(out.size());
    const std::vector<uint8_t> built = BuildResourceSection(resources, resources2.virtualAddress);
    resources2.virtualSize = static_cast<uint32_t>(built.size());
    resources2.rawSize = static_cast<uint32_t>(AlignUp(built.size(), pe.fileAlignment));
    out.insert(out.end(), built.begin(), built.end());
    PadTo(out, pe.fileAlignment);
    placed.push_back(resources2);
    if (out.size() > fileSize) {
        // The file's end is aligned, so the unaligned excess is what must go.
        overBy = resources2.rawPointer + built.size() - fileSize;
        char text[200];
        snprintf(text, sizeof text, "the branded stub is %zu bytes over its %zu-byte budget "
                 "(the resources take %zu bytes; %zu are free for them)", overBy, fileSize,
                 built.size(), resources2.rawPointer < fileSize ? fileSize - resources2.rawPointer : 0);
        error = text;
        return false;
    }
    out.resize(fileSize, 0);

    // Section table: the moved sections shift up one place, the resources come last.
    for (size_t k = 0; k < placed.size(); ++k) {
        const Section& original = k + 1 < placed.size() ? pe.sections[first + 1 + k] : resourceSection;
        const size_t header = pe.sections[first + k].headerOffset;
        memcpy(&out[header], &image[original.headerOffset], SECTION_HEADER_SIZE);
        Put32(out, header + 8, placed[k].virtualSize);
        Put32(out, header + 12, placed[k].virtualAddress);
        Put32(out, header + 16, placed[k].rawSize);
        Put32(out, header + 20, placed[k].rawPointer);
    }
    // Data directories that pointed into a moved section follow it.
    for (unsigned index = 0; index < pe.directoryCount; ++index) {
        const size_t entry = pe.directories + 8 * index;
        const uint32_t target = Get32(out, entry);
        if (index == DIRECTORY_RESOURCES || index == DIRECTORY_CERTIFICATES || target == 0) continue;
        for (size_t k = first + 1; k < pe.sections.size(); ++k) {
            const Section& section = pe.sections[k];
            if (target < section.virtualAddress ||
                target - section.virtualAddress >= std::max(section.virtualSize, section.rawSize)) {
                continue;
            }
            if (index == DIRECTORY_DEBUG) {
                error = "the stub's debug directory lies after its resources";
                return false;
            }
            Put32(out, entry, target - section.virtualAddress + placed[k - first - 1].virtualAddress);
        }
    }
    Put32(out, pe.directories + 8 * DIRECTORY_RESOURCES, resources2.virtualAddress);
    Put32(out, pe.directories + 8 * DIRECTORY_RESOURCES + 4, resources2.virtualSize);
    const uint32_t initialised = Get32(out, pe.optional + 8);
    Put32(out, pe.optional + 8, initialised - resourceSection.rawSize + resources2.rawSize);
    Put32(out, pe.optional + 56, static_cast<uint32_t>(
        AlignUp(uint64_t(resources2.virtualAddress) + resources2.virtualSize, pe.sectionAlignment)));
    Put32(out, pe.optional + 64, 0);
    Put32(out, pe.optional + 64, PeChecksum(out));
    image.swap(out);
    return true;
}

// --- public: icons ---

bool ParseIcoFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                  std::string& error) {
    images.clear();
    if (file.size() < 6 || Get16(file, 0) != 0 || Get16(file, 2) != 1) {
        error = "not an icon file (.ico header expected)";
        return false;
    }
    const size_t count = Get16(file, 4);
    if (count == 0 || count > MAX_ICON_IMAGES || (file.size() - 6) / 16 < count) {
        error = "the icon file's directory is empty, too long or cut off";
        return false;
    }
    for (size_t k = 0; k < count; ++k) {
        const size_t entry = 6 + 16 * k;
        const uint32_t bytes = Get32(file, entry + 8), offset = Get32(file, entry + 12);
        IconImage image;
        image.index = static_cast<unsigned>(k + 1);
        image.width = file[entry] ? file[entry] : 256;
        image.height = file[entry + 1] ? file[entry + 1] : 256;
        image.bitCount = Get16(file, entry + 6);
        if (offset > file.size() || file.size() - offset < bytes) {
            image.problem = "it lies beyond the file's end (the file is cut off)";
        } else {
            image.data.assign(file.begin() + offset, file.begin() + offset + bytes);
            if (!DescribePng(image.data, image) && !DescribeBitmap(image.data, image)) {
                image.problem = "neither a PNG nor an icon bitmap";
            }
        }
        images.push_back(std::move(image));
    }
    return true;
}

bool ChooseIconImages(const std::vector<IconImage>& images, std::vector<IconImage>& chosen,
                      std::vector<std::string>& leftOut, std::string& error) {
    chosen.clear();
    leftOut.clear();
    const unsigned sizes[3] = {32, 16, 48};  // in the order of choice; 48 only with room
    std::vector<const IconImage*> best(3, nullptr);
    for (const IconImage& image : images) {
        if (!image.problem.empty()) continue;
        for (size_t s = 0; s < 3; ++s) {
            if (image.width != sizes[s] || image.height != sizes[s]) continue;
            if (best[s] == nullptr || ImageRank(image) > ImageRank(*best[s])) best[s] = &image;
        }
    }
    for (size_t s = 0; s < 3; ++s) {
        if (best[s] == nullptr) continue;
        const IconImage& image = *best[s];
        const bool taken = image.png || image.bitCount == 4 || image.bitCount == 8 ||
                           image.bitCount == 32;
        chosen.push_back(taken ? image : ConvertTo32Bits(image));
        chosen.back().optional = sizes[s] == 48;
    }
    for (const IconImage& image : images) {
        if (std::any_of(chosen.begin(), chosen.end(),
                        [&](const IconImage& c) { return c.index == image.index; })) {
            continue;
        }
        std::string why;
        if (!image.problem.empty()) {
            why = image.problem;
        } else if (image.width != image.height ||
                   (image.width != 16 && image.width != 32 && image.width != 48)) {
            why = "the setup uses 16x16, 32x32 and 48x48 images";
        } else {
            why = "another image of this size is taken";
        }
        leftOut.push_back(ImageText(image) + ": " + why);
    }
    if (std::none_of(chosen.begin(), chosen.end(),
                     [](const IconImage& image) { return !image.optional; })) {
        std::string why;
        for (const IconImage& image : chosen) {
            why += "; " + ImageText(image) + ": taken only beside a 16x16 or 32x32 image";
        }
        for (const std::string& text : leftOut) why += "; " + text;
        error = "no 16x16 or 32x32 image can be made from it, which Explorer and the "
                "setup's window need" + why;
        return false;
    }
    return true;
}

std::string DescribeIconChoice(const std::vector<IconImage>& chosen,
                               const std::vector<std::string>& leftOut) {
    std::string text = "took";
    for (size_t k = 0; k < chosen.size(); ++k) {
        text += (k ? ", " : " ") + ImageText(chosen[k]);
        if (chosen[k].converted) text.insert(text.size() - 1, ", converted to 32 bpp");
    }
    for (size_t k = 0; k < leftOut.size(); ++k) text += (k ? "; " : "; left out ") + leftOut[k];
    return text;
}

bool ParseIconGroup(const std::vector<uint8_t>& data, std::vector<IconGroupEntry>& entries) {
    entries.clear();
    if (data.size() < 6 || Get16(data, 0) != 0 || Get16(data, 2) != 1) return false;
    const size_t count = Get16(data, 4);
    if ((data.size() - 6) / 14 < count) return false;
    for (size_t k = 0; k < count; ++k) {
        const size_t at = 6 + 14 * k;
        IconGroupEntry entry;
        entry.width = data[at] ? data[at] : 256;
        entry.height = data[at + 1] ? data[at + 1] : 256;
        entry.colorCount = data[at + 2];
        entry.planes = Get16(data, at + 4);
        entry.bitCount = Get16(data, at + 6);
        entry.bytes = Get32(data, at + 8);
        entry.id = Get16(data, at + 12);
        entries.push_back(entry);
    }
    return true;
}

// --- public: version information ---

const char* const VERSION_KEYS[9] = {"CompanyName",     "ProductName",  "FileDescription",
                                     "FileVersion",     "ProductVersion", "LegalCopyright",
                                     "OriginalFilename", "InternalName", "Comments"};

bool ParseDottedVersion(const std::string& text, uint32_t words[2]) {
    unsigned parts[4] = {0, 0, 0, 0};
    size_t count = 0, at = 0;
    while (true) {
        if (count == 4 || at >= text.size() || text[at] < '0' || text[at] > '9') return false;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
            if (value > 65535) return false;
        }
        parts[count++] = value;
        if (at == text.size()) break;
        if (text[at++] != '.') return false;
    }
    words[0] = parts[0] << 16 | parts[1];
    words[1] = parts[2] << 16 | parts[3];
    return true;
}

std::string CheckVersionArgument(const std::string& argument, std::string& key,
                                 std::string& value) {
    const size_t equals = argument.find('=');
    if (equals == std::string::npos) return "\"" + argument + "\": expected KEY=VALUE";
    key = argument.substr(0, equals);
    value = argument.substr(equals + 1);
    if (std::find_if(std::begin(VERSION_KEYS), std::end(VERSION_KEYS),
                     [&](const char* known) { return key == known; }) == std::end(VERSION_KEYS)) {
        std::string known;
        for (const char* name : VERSION_KEYS) known += std::string(known.empty() ? "" : ", ") + name;
        return "unknown key \"" + key + "\"; the keys are " + known;
    }
    std::u16string text;
    if (!Utf8ToUtf16(value, text)) return key + ": the value is not valid UTF-8";
    if (text.size() > 4096) return key + ": the value is longer than 4096 characters";
    for (char16_t unit : text) {
        if (unit < 0x20 || unit == 0x7F) return key + ": the value holds a control character";
    }
    uint32_t words[2];
    if ((key == "FileVersion" || key == "ProductVersion") && !ParseDottedVersion(value, words)) {
        return key + ": \"" + value + "\" is not a version a.b.c.d (one to four numbers "
               "from 0 to 65535)";
    }
    return "";
}

bool ParseVersionInfo(const std::vector<uint8_t>& data, VersionInfo& info) {
    info = VersionInfo();
    VersionNode root;
    size_t length = 0;
    if (!ParseVersionNode(data, 0, data.size(), 0, root, length)) return false;
    if (root.value.size() >= FIXED_INFO_SIZE && Get32(root.value, 0) == FIXED_INFO_SIGNATURE) {
        info.fileVersion[0] = Get32(root.value, 8);
        info.fileVersion[1] = Get32(root.value, 12);
        info.productVersion[0] = Get32(root.value, 16);
        info.productVersion[1] = Get32(root.value, 20);
    }
    for (const VersionNode& child : root.children) {
        if (child.key != u"StringFileInfo" || child.children.empty()) continue;
        info.language = Utf16ToUtf8(child.children.front().key.substr(0, 4));
        for (const VersionNode& string : child.children.front().children) {
            info.strings.emplace_back(Utf16ToUtf8(string.key), Utf16ToUtf8(ValueText(string)));
        }
        break;
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        uint32_t point = text[k];
        if (point >= 0xD800 && point < 0xDC00 && k + 1 < text.size() && text[k + 1] >= 0xDC00 &&
            text[k + 1] < 0xE000) {
            point = 0x10000 + ((point - 0xD800) << 10) + (text[++k] - 0xDC00);
        } else if (point >= 0xD800 && point < 0xE000) {
            point = 0xFFFD;
        }
        if (point < 0x80) {
            out += static_cast<char>(point);
        } else if (point < 0x800) {
            out += static_cast<char>(0xC0 | point >> 6);
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += static_cast<char>(0xE0 | point >> 12);
            out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | point >> 18);
            out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return out;
}

std::string ParseVersionLanguage(const char* text, unsigned& language) {
    const char* digits = strncmp(text, "0x", 2) == 0 || strncmp(text, "0X", 2) == 0 ? text + 2 : text;
    if (strlen(digits) != 4 || strspn(digits, "0123456789abcdefABCDEF") != 4) {
        return std::string("--version-language ") + text + ": not a language id of four hex "
               "digits, such as 0409 (English, United States) or 0411 (Japanese)";
    }
    language = static_cast<unsigned>(strtoul(digits, nullptr, 16));
    return "";
}

// --- public: dialog ---

namespace {

const uint32_t DS_SETFONT = 0x40;
const size_t MAX_TITLE = 255;

// Skips a NUL-terminated UTF-16 string at at; false when it runs past the end.
bool SkipText(const std::vector<uint8_t>& data, size_t& at, std::u16string* text = nullptr) {
    for (;;) {
        if (data.size() - std::min(at, data.size()) < 2) return false;
        const char16_t unit = static_cast<char16_t>(Get16(data, at));
        at += 2;
        if (unit == 0) return true;
        if (text != nullptr) text->push_back(unit);
    }
}

// A menu or class field: 0, 0xFFFF and an ordinal, or a NUL-terminated UTF-16 string.
bool SkipNameOrOrdinal(const std::vector<uint8_t>& data, size_t& at) {
    if (data.size() - std::min(at, data.size()) < 2) return false;
    if (Get16(data, at) == 0xFFFF) {
        at += 4;
        return at <= data.size();
    }
    return SkipText(data, at);
}

// Where a dialog template's caption starts and ends (after its NUL), and where its
// controls start (DWORD-aligned after the font, if any).
bool FindCaption(const std::vector<uint8_t>& dialog, size_t& start, size_t& end,
                 size_t& controls, std::u16string& caption) {
    if (dialog.size() < 18) return false;
    const bool extended = Get16(dialog, 0) == 1 && Get16(dialog, 2) == 0xFFFF;
    const uint32_t style = Get32(dialog, extended ? 12 : 0);
    size_t at = extended ? 26 : 18;
    if (!SkipNameOrOrdinal(dialog, at) || !SkipNameOrOrdinal(dialog, at)) return false;
    start = at;
    if (!SkipText(dialog, at, &caption)) return false;
    end = at;
    if ((style & DS_SETFONT) != 0) {  // also part of DS_SHELLFONT
        at += extended ? 6 : 2;  // point size; for DLGTEMPLATEEX also weight, italic, charset
        if (!SkipText(dialog, at)) return false;
    }
    controls = std::min<size_t>(AlignUp(at, 4), dialog.size());
    return true;
}

}  // namespace

std::string CheckTitle(const std::string& text) {
    std::u16string units;
    if (text.empty()) return "--title needs a text";
    if (!Utf8ToUtf16(text, units)) return "--title: the text is not valid UTF-8";
    if (units.size() > MAX_TITLE) {
        return "--title: the text is longer than " + std::to_string(MAX_TITLE) + " characters";
    }
    for (char16_t unit : units) {
        if (unit < 0x20 || unit == 0x7F) return "--title: the text holds a control character";
    }
    return "";
}

bool ReadDialogCaption(const std::vector<uint8_t>& dialog, std::string& caption) {
    size_t start = 0, end = 0, controls = 0;
    std::u16string text;
    if (!FindCaption(dialog, start, end, controls, text)) return false;
    caption = Utf16ToUtf8(text);
    return true;
}

bool SetDialogCaption(std::vector<uint8_t>& dialog, const std::string& caption) {
    size_t start = 0, end = 0, controls = 0;
    std::u16string old, text;
    if (!FindCaption(dialog, start, end, controls, old) || !Utf8ToUtf16(caption, text)) return false;
    std::vector<uint8_t> out(dialog.begin(), dialog.begin() + start);
    for (char16_t unit : text) Append16(out, unit);
    Append16(out, 0);
    out.insert(out.end(), dialog.begin() + end, dialog.begin() + controls);
    PadTo(out, 4);  // the controls stay DWORD-aligned from the template's start
    out.insert(out.end(), dialog.begin() + controls, dialog.end());
    dialog.swap(out);
    return true;
}

// --- public: manifest ---

bool IsExecutionLevel(const std::string& level) {
    return level == "asInvoker" || level == "highestAvailable" || level == "requireAdministrator";
}

bool FindExecutionLevel(const std::string& manifest, size_t& start, size_t& length) {
    const size_t element = manifest.find("<requestedExecutionLevel");
    if (element == std::string::npos) return false;
    const size_t close = manifest.find('>', element);
    if (close == std::string::npos) return false;
    for (size_t at = element; (at = manifest.find("level", at + 1)) < close;) {
        const char before = manifest[at - 1];
        if (before != ' ' && before != '\t' && before != '\r' && before != '\n') continue;
        size_t position = at + 5;
        while (position < close && isspace(static_cast<unsigned char>(manifest[position]))) ++position;
        if (position >= close || manifest[position] != '=') continue;
        ++position;
        while (position < close && isspace(static_cast<unsigned char>(manifest[position]))) ++position;
        if (position >= close || (manifest[position] != '"' && manifest[position] != '\'')) return false;
        const size_t end = manifest.find(manifest[position], position + 1);
        if (end == std::string::npos || end > close) return false;
        start = position + 1;
        length = end - start;
        return true;
    }
    return false;
}

// --- public: branding ---

namespace {

// Replaces the icon group I_1 and its images with images, which take the lowest free
// icon numbers. False when the stub has no such group.
bool PlaceIcons(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
    auto find = [&](uint16_t type, const ResourceName& name) -> Resource* {
        for (Resource& resource : resources) {
            if (resource.type.text.empty() && resource.type.id == type && resource.name == name) {
                return &resource;
            }
        }
        return nullptr;
    };
    ResourceName groupName;
    groupName.text = u"I_1";
    Resource* group = find(RESOURCE_GROUP_ICON, groupName);
    std::vector<IconGroupEntry> old;
    if (group == nullptr || !ParseIconGroup(group->data, old)) return false;
    const uint16_t language = group->language;
    const uint32_t codePage = group->codePage;
    resources.erase(std::remove_if(resources.begin(), resources.end(), [&](const Resource& r) {
        if (!r.type.text.empty() || r.type.id != RESOURCE_ICON || !r.name.text.empty()) return false;
        return std::any_of(old.begin(), old.end(),
                           [&](const IconGroupEntry& e) { return e.id == r.name.id; });
    }), resources.end());
    std::vector<uint8_t> groupData;
    Append16(groupData, 0);
    Append16(groupData, 1);
    Append16(groupData, static_cast<uint32_t>(images.size()));
    ResourceName iconName;
    iconName.id = 1;
    for (const IconImage& image : images) {
        while (find(RESOURCE_ICON, iconName) != nullptr) ++iconName.id;
        Resource icon;
        icon.type.id = RESOURCE_ICON;
        icon.name = iconName;
        icon.language = language;
        icon.codePage = codePage;
        icon.data = image.data;
        resources.push_back(icon);
        // Windows draws at most 32 bits per pixel; a deeper PNG is listed as 32.
        const unsigned bits = image.converted ? 32 : std::min(image.bitCount, 32u);
        groupData.push_back(static_cast<uint8_t>(image.width));
        groupData.push_back(static_cast<uint8_t>(image.height));
        groupData.push_back(static_cast<uint8_t>(bits < 8 ? 1u << bits : 0));
        groupData.push_back(0);
        Append16(groupData, 1);
        Append16(groupData, bits);
        Append32(groupData, static_cast<uint32_t>(image.data.size()));
        Append16(groupData, iconName.id);
    }
    find(RESOURCE_GROUP_ICON, groupName)->data = groupData;
    return true;
}

}  // namespace

bool BrandStub(std::vector<uint8_t>& stub, const Branding& branding, size_t stubSize,
               std::string& error, std::string* iconReport) {
    std::vector<Resource> resources;
    if (!ReadResources(stub, resources, error)) {
        error = "the stub: " + error;
        return false;
    }
    auto find = [&](uint16_t type, const ResourceName* name) -> Resource* {
        for (Resource& resource : resources) {
            if (resource.type.text.empty() && resource.type.id == type &&
                (name == nullptr || resource.name == *name)) {
                return &resource;
            }
        }
        return nullptr;
    };

    const int language = branding.versionLanguage >= 0 ? branding.versionLanguage
                         : branding.versionInfo.empty() ? -1 : static_cast<int>(US_ENGLISH);
    if (!branding.versionInfo.empty() || language >= 0) {
        Resource* version = find(RESOURCE_VERSION, nullptr);
        if (version == nullptr) {
            error = "the stub has no version block";
            return false;
        }
        if (!ApplyVersionInfo(version->data, branding.versionInfo, language, error)) return false;
        // The resource's own language follows, unless another version block has it.
        const bool taken = std::any_of(resources.begin(), resources.end(), [&](const Resource& r) {
            return &r != version && r.type == version->type && r.name == version->name &&
                   r.language == language;
        });
        if (language >= 0 && !taken) version->language = static_cast<uint16_t>(language);
    }

    if (!branding.executionLevel.empty()) {
        Resource* manifest = find(RESOURCE_MANIFEST, nullptr);
        std::string text;
        if (manifest != nullptr) text.assign(manifest->data.begin(), manifest->data.end());
        size_t start = 0, length = 0;
        if (manifest == nullptr || !FindExecutionLevel(text, start, length)) {
            error = "the stub's manifest has no requestedExecutionLevel to change";
            return false;
        }
        text.replace(start, length, branding.executionLevel);
        manifest->data.assign(text.begin(), text.end());
    }

    if (!branding.title.empty()) {
        // Every language's progress dialog gets the caption.
        ResourceName dialogName;
        dialogName.text = u"D_MAIN";
        bool found = false;
        for (Resource& resource : resources) {
            if (!resource.type.text.empty() || resource.type.id != RESOURCE_DIALOG ||
                !(resource.name == dialogName)) {
                continue;
            }
            if (!SetDialogCaption(resource.data, branding.title)) {
                error = "the stub's progress dialog D_MAIN is damaged";
                return false;
            }
            found = true;
        }
        if (!found) {
            error = "the stub has no progress dialog D_MAIN to set the title of";
            return false;
        }
    }

    std::vector<IconImage> icons;
    std::vector<std::string> leftOut;
    if (!branding.iconPath.empty()) {
        std::vector<IconImage> images;
        if (!ParseIcoFile(branding.icon, images, error) ||
            !ChooseIconImages(images, icons, leftOut, error)) {
            error = branding.iconPath + ": " + error;
            return false;
        }
    }
    for (;;) {
        std::vector<Resource> placed = resources;
        if (!branding.iconPath.empty() && !PlaceIcons(placed, icons)) {
            error = "the stub has no icon group I_1 to replace";
            return false;
        }
        size_t overBy = 0;
        std::vector<uint8_t> image = stub;
        if (WriteResources(image, placed, stubSize, error, overBy)) {
            stub.swap(image);
            break;
        }
        // The optional images go first when the stub has no room for them.
        const auto optional = std::find_if(icons.begin(), icons.end(),
                                           [](const IconImage& icon) { return icon.optional; });
        if (overBy == 0 || optional == icons.end()) return false;
        leftOut.push_back(ImageText(*optional) + ": no room left in the stub (it would be " +
                          std::to_string(overBy) + " bytes over with it)");
        icons.erase(optional);
    }
    if (iconReport != nullptr && !branding.iconPath.empty()) {
        *iconReport = DescribeIconChoice(icons, leftOut);
    }
    return true;
}

bool DescribeStub(const std::vector<uint8_t>& stub, StubDescription& description,
                  std::string& error) {
    description = StubDescription();
    std::vector<Resource> resources;
    if (!ReadResources(stub, resources, error)) return false;
    for (const Resource& resource : resources) {
        if (!resource.type.text.empty()) continue;
        if (resource.type.id == RESOURCE_VERSION && !description.hasVersion) {
            description.hasVersion = ParseVersionInfo(resource.data, description.version);
        } else if (resource.type.id == RESOURCE_MANIFEST && description.executionLevel.empty()) {
            const std::string text(resource.data.begin(), resource.data.end());
            size_t start = 0, length = 0;
            if (FindExecutionLevel(text, start, length)) {
                description.executionLevel = text.substr(start, length);
            }
        } else if (resource.type.id == RESOURCE_GROUP_ICON && resource.name.text == u"I_1") {
            ParseIconGroup(resource.data, description.icons);
        } else if (resource.type.id == RESOURCE_DIALOG && resource.name.text == u"D_MAIN" &&
                   description.title.empty()) {
            ReadDialogCaption(resource.data, description.title);
        }
    }
    return true;
}

bool DescribeSetupFile(const std::string& path, size_t stubSize, StubDescription& description,
                       std::string& error) {
    std::vector<uint8_t> stub(stubSize);
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": cannot be read";
        return false;
    }
    stub.resize(fread(stub.data(), 1, stubSize, file));
    fclose(file);
    return DescribeStub(stub, description, error);
}

std::string DottedVersion(const uint32_t words[2]) {
    char version[48];
    snprintf(version, sizeof version, "%u.%u.%u.%u", words[0] >> 16, words[0] & 0xFFFF,
             words[1] >> 16, words[1] & 0xFFFF);
    return version;
}
