// The resources of a 32-bit Windows program (PE32), read and rewritten on Linux: the
// packer brands the stub with a vendor's icon, version information and execution level,
// and list reports what a setup carries.
#ifndef VORPANEX_TOOLS_PE_RESOURCES_H
#define VORPANEX_TOOLS_PE_RESOURCES_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

const uint16_t RESOURCE_ICON = 3;
const uint16_t RESOURCE_DIALOG = 5;
const uint16_t RESOURCE_STRING = 6;
const uint16_t RESOURCE_GROUP_ICON = 14;
const uint16_t RESOURCE_VERSION = 16;
const uint16_t RESOURCE_MANIFEST = 24;

// A resource type or name: an ordinal, or (when text is not empty) a string.
struct ResourceName {
    uint16_t id = 0;
    std::u16string text;
    bool operator==(const ResourceName& other) const {
        return id == other.id && text == other.text;
    }
};

struct Resource {
    ResourceName type, name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// The resources of image, in directory order. False, with the reason, when image is not
// a PE32 program or its resource directory is damaged.
bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>& resources,
                   std::string& error);

// Replaces image's resource section with one built from resources, laid out as the last
// section, and fixes the section table, SizeOfImage, the data directories and the
// checksum; the result is padded with zero bytes to fileSize. When it does not fit,
// overBy is the excess, error says so, and image is left as it was.
bool WriteResources(std::vector<uint8_t>& image, const std::vector<Resource>& resources,
                    size_t fileSize, std::string& error, size_t& overBy);

// The PE checksum of image (the checksum field itself counted as zero).
uint32_t PeChecksum(const std::vector<uint8_t>& image);

// --- icons ---

struct IconImage {
    unsigned index = 0;  // 1 for the file's first image
    unsigned width = 0, height = 0;
    unsigned bitCount = 0;  // bits per pixel, from the image's own header
    bool png = false;
    std::string problem;    // why the image cannot be used at all, or ""
    bool converted = false; // data was turned into a 32-bit bitmap
    bool optional = false;  // taken only where the stub has room left (48x48)
    std::vector<uint8_t> data;  // the image as stored in the .ico file, or converted
};

// Every image of an .ico file, described from its own header (a damaged one has its
// problem set). False with the reason when the file is not an icon file.
bool ParseIcoFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                  std::string& error);

// What the setup takes from an icon file's images: the best 32x32 and 16x16 image
// (more bits per pixel first, 1, 16 and 24 bpp bitmaps converted to 32 bpp, PNG kept as
// PNG), then a 48x48 one marked optional; leftOut names the others and why. False with
// the reason when no 16x16 or 32x32 image can be made.
bool ChooseIconImages(const std::vector<IconImage>& images, std::vector<IconImage>& chosen,
                      std::vector<std::string>& leftOut, std::string& error);

// "took image 2 (32x32, 32 bpp), ...; left out image 1 (...): why; ..."
std::string DescribeIconChoice(const std::vector<IconImage>& chosen,
                               const std::vector<std::string>& leftOut);

struct IconGroupEntry {
    unsigned width = 0, height = 0, colorCount = 0, planes = 0, bitCount = 0;
    uint32_t bytes = 0;
    uint16_t id = 0;
};

bool ParseIconGroup(const std::vector<uint8_t>& data, std::vector<IconGroupEntry>& entries);

// --- version information ---

struct VersionInfo {
    std::vector<std::pair<std::string, std::string>> strings;  // UTF-8, in stored order
    std::string language;                                     // of the strings: "0409"
    uint32_t fileVersion[2] = {0, 0};                         // most, least significant
    uint32_t productVersion[2] = {0, 0};
};

bool ParseVersionInfo(const std::vector<uint8_t>& data, VersionInfo& info);

// The keys that --version-info accepts.
extern const char* const VERSION_KEYS[9];

// Checks one KEY=VALUE argument; "" when it is good, else what is wrong.
std::string CheckVersionArgument(const std::string& argument, std::string& key,
                                 std::string& value);

// --version-language: a language id of four hex digits ("0409"); "" or what is wrong.
std::string ParseVersionLanguage(const char* text, unsigned& language);

const unsigned US_ENGLISH = 0x0409;

// "a.b.c.d" (one to four numbers up to 65535; missing ones are 0) as two words.
bool ParseDottedVersion(const std::string& text, uint32_t words[2]);

// --- manifest ---

bool IsExecutionLevel(const std::string& level);

// Where the level attribute's value of requestedExecutionLevel lies in manifest.
bool FindExecutionLevel(const std::string& manifest, size_t& start, size_t& length);

// --- dialog ---

// --title: "" when text can be the progress window's caption, else what is wrong.
std::string CheckTitle(const std::string& text);

// The caption of a dialog template (DLGTEMPLATE or DLGTEMPLATEEX), as UTF-8.
bool ReadDialogCaption(const std::vector<uint8_t>& dialog, std::string& caption);

// Sets the caption of a dialog template; false when the template is damaged.
bool SetDialogCaption(std::vector<uint8_t>& dialog, const std::string& caption);

// --- branding ---

struct Branding {
    std::string iconPath;                                          // "" keeps the icon
    std::vector<uint8_t> icon;                                     // the .ico file's bytes
    std::vector<std::pair<std::string, std::string>> versionInfo;  // checked KEY, VALUE
    std::string executionLevel;                                    // "" keeps it
    std::string title;             // the progress window's caption; "" keeps it
    int versionLanguage = -1;      // of the version strings; -1: US English when any
                                   // string is given, else kept
    bool Empty() const {
        return iconPath.empty() && versionInfo.empty() && executionLevel.empty() &&
               title.empty() && versionLanguage < 0;
    }
};

// Rebuilds stub with the branding and pads it to stubSize bytes. False with a message
// when an input is unusable or the result would not fit (then stub is unchanged).
// iconReport, when given, says which of the icon's images were taken and left out.
bool BrandStub(std::vector<uint8_t>& stub, const Branding& branding, size_t stubSize,
               std::string& error, std::string* iconReport = nullptr);

// What a stub carries: version information, execution level, icon group I_1.
struct StubDescription {
    bool hasVersion = false;
    VersionInfo version;
    std::string executionLevel;
    std::string title;  // the progress window's caption ("" when there is no D_MAIN)
    std::vector<IconGroupEntry> icons;
};

bool DescribeStub(const std::vector<uint8_t>& stub, StubDescription& description,
                  std::string& error);

// DescribeStub for the first stubSize bytes of the setup at path.
bool DescribeSetupFile(const std::string& path, size_t stubSize, StubDescription& description,
                       std::string& error);

// A version's two words as "a.b.c.d".
std::string DottedVersion(const uint32_t words[2]);

std::string Utf16ToUtf8(const std::u16string& text);

#endif
