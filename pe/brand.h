// Branding the stub: version information, execution level, progress window caption and
// icon, written into its resources; and what a stub carries, for list.
#ifndef VORPANEX_PE_BRAND_H
#define VORPANEX_PE_BRAND_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pe/icons.h"
#include "pe/resources.h"
#include "pe/text.h"
#include "pe/version.h"

// --- manifest ---

// Where the level attribute's value of requestedExecutionLevel lies in manifest.
bool FindExecutionLevel(const std::string& manifest, size_t& start, size_t& length);

// --- dialog ---

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

#endif
