// The icons a setup carries: an .ico file's images, the choice among them, and the
// stub's icon group I_1.
#ifndef VORPANEX_PE_ICONS_H
#define VORPANEX_PE_ICONS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pe/resources.h"

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


// "image 2 (32x32, 32 bpp)": how reports name an image.
std::string ImageText(const IconImage& image);

// Replaces the icon group I_1 and its images with images, which take the lowest free
// icon numbers. False when the resources have no such group.
bool PlaceIcons(std::vector<Resource>& resources, const std::vector<IconImage>& images);

#endif
