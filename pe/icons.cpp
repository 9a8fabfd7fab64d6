// Icons: the images of an .ico file, the choice of those a setup carries, and the
// stub's icon group that they replace.
//
// - Icon group: 6-byte header (0, 1, count), 14-byte entries (width, height, colours,
//   0, planes, bit count, bytes, icon id). An .ico file has the same header, 16-byte
//   entries ending in the image's file offset instead of the id.
#include "pe/icons.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "pe/bytes.h"

namespace {

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

std::string ImageText(const IconImage& image) {
    char text[96];
    snprintf(text, sizeof text, "image %u (%ux%u, %u bpp%s)", image.index, image.width,
             image.height, image.bitCount, image.png ? ", PNG" : "");
    return text;
}

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
