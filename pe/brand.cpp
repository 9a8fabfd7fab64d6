// Branding a stub (version strings, execution level, progress window caption, icon)
// and describing what a stub carries; the dialog template's caption and the manifest's
// execution level are found here.
#include "pe/brand.h"

#include <stdio.h>

#include <algorithm>

#include "pe/bytes.h"
#include "pe/text.h"

// --- dialog ---

namespace {

const uint32_t DS_SETFONT = 0x40;

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

// --- manifest ---

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

// --- branding ---

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
