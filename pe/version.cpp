// The version block (VS_VERSIONINFO): read for list, rewritten for pack's branding.
//
// - Version block: nodes of wLength, wValueLength, wType (1 = text, counted in UTF-16
//   units), a NUL-terminated UTF-16 key, the value and the children, each 32-bit aligned.
#include "pe/version.h"

#include <stdio.h>

#include "pe/bytes.h"
#include "pe/text.h"

namespace {

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

}  // namespace

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
        if (!Utf8ToUtf16(pair.second, text) || text.size() > MAX_VERSION_TEXT) {
            error = "--version-info " + pair.first + ": the value is not UTF-8 of at most " +
                    std::to_string(MAX_VERSION_TEXT) + " characters";
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

std::string DottedVersion(const uint32_t words[2]) {
    char version[48];
    snprintf(version, sizeof version, "%u.%u.%u.%u", words[0] >> 16, words[0] & 0xFFFF,
             words[1] >> 16, words[1] & 0xFFFF);
    return version;
}
