// Reading and writing the resource directory of a PE image.
//
// - Resource directory: three levels (type, name, language) of tables: 16-byte header
//   with the counts of named and numbered entries at +12 and +14, then 8-byte entries
//   (name: high bit = offset of a length-prefixed UTF-16 string; child: high bit =
//   offset of a table, else of a 16-byte data entry: RVA, size, code page). Named
//   entries come first, in ascending order, then numbered ones, ascending.
#include "pe/resource_tree.h"

#include <map>

#include "pe/bytes.h"

namespace {

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

// Named entries first, in code-unit order, then numbered ones, ascending.
bool NameBefore(const ResourceName& a, const ResourceName& b) {
    if (a.text.empty() != b.text.empty()) return !a.text.empty();
    if (!a.text.empty()) return a.text < b.text;
    return a.id < b.id;
}

struct NameOrder {
    bool operator()(const ResourceName& a, const ResourceName& b) const { return NameBefore(a, b); }
};

}  // namespace

bool ReadResourceTree(const std::vector<uint8_t>& image, size_t base, size_t size,
                      uint32_t address, std::vector<Resource>& resources, std::string& error) {
    DirectoryReader reader{image, base, size, address, resources, error};
    Resource path;
    return reader.ReadTable(0, 0, path);
}

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
