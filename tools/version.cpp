// vorpanex --version: the tool's version, and the built-in stub's file version (from
// its version resource) and SHA-256.
#include <stdio.h>
#include <string.h>

#include "tools/commands.h"
#include "tools/sha256.h"

#ifndef VORPANEX_VERSION
#define VORPANEX_VERSION "1.0.0.5"
#endif

// The file version of a Windows executable: the VS_FIXEDFILEINFO record in its
// version resource starts with the signature 0xFEEF04BD, then the structure version,
// then the file version as two 32-bit words (major.minor, build.revision).
std::string StubFileVersion(const unsigned char* image, size_t size) {
    static const unsigned char SIGNATURE[4] = {0xBD, 0x04, 0xEF, 0xFE};
    for (size_t i = 0; i + 16 <= size; i += 4) {  // the record is 32-bit aligned
        if (memcmp(image + i, SIGNATURE, 4) != 0) continue;
        auto word = [&](size_t at) {
            return static_cast<unsigned>(image[at] | image[at + 1] << 8);
        };
        char text[48];
        snprintf(text, sizeof text, "%u.%u.%u.%u", word(i + 10), word(i + 8), word(i + 14),
                 word(i + 12));
        return text;
    }
    return "";
}

int VersionCommand() {
    printf("vorpanex %s\n", VORPANEX_VERSION);
    if (embeddedStubSize == 0) {
        printf("built-in stub: none (pack needs --stub FILE or --archive-only)\n");
        return EXIT_OK;
    }
    const std::string version = StubFileVersion(embeddedStub, embeddedStubSize);
    printf("built-in stub: file version %s, %u bytes\n",
           version.empty() ? "unknown (no version resource)" : version.c_str(),
           embeddedStubSize);
    printf("built-in stub SHA-256: %s\n", Sha256Hex(embeddedStub, embeddedStubSize).c_str());
    return EXIT_OK;
}
