// The PE32 headers and the section table: where the resource section lies, and how
// it is replaced as the last section, with the image's size and checksum fixed.
//
// Format notes:
// - PE: "MZ", e_lfanew at 0x3C -> "PE\0\0", COFF header (20 bytes: sections at +2,
//   optional header size at +16), optional header (PE32 magic 0x10B; from its start:
//   SizeOfInitializedData +8, SectionAlignment +32, FileAlignment +36, SizeOfImage +56,
//   SizeOfHeaders +60, CheckSum +64, NumberOfRvaAndSizes +92, data directories +96, eight
//   bytes each: 2 resources, 4 certificates (a file offset), 5 base relocations, 6 debug).
//   Section headers, 40 bytes: name, VirtualSize +8, VirtualAddress +12, SizeOfRawData
//   +16, PointerToRawData +20, Characteristics +36.
#include "pe/resources.h"

#include <string.h>

#include <algorithm>

#include "pe/bytes.h"
#include "pe/resource_tree.h"

namespace {

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

}  // namespace

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
    return ReadResourceTree(image, section.rawPointer,
                            std::min(section.rawSize, section.virtualSize ? section.virtualSize
                                                                          : section.rawSize),
                            section.virtualAddress, resources, error);
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
