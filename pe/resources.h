// The resources of a 32-bit Windows program (PE32), read and rewritten on Linux: the
// packer brands the stub with them, and list reports what a setup carries.
#ifndef VORPANEX_PE_RESOURCES_H
#define VORPANEX_PE_RESOURCES_H

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

#endif
