// Helpers of list, test and extract.
#include "tools/reading.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "archive/archive.h"
#include "tools/terminal.h"

long ArchiveOffsetOf(const char* verb, const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        ProgressDone();
        fprintf(stderr, "vorpanex %s: %s: %s\n", verb, path, strerror(errno));
        return -1;
    }
    unsigned char magic[2] = {0, 0};
    const size_t got = fread(magic, 1, 2, file);
    const int readError = ferror(file) ? errno : 0;
    fseek(file, 0, SEEK_END);
    const long length = ftell(file);
    fclose(file);
    if (readError != 0 || length < 0) {
        fprintf(stderr, "vorpanex %s: %s: %s\n", verb, path,
                strerror(readError != 0 ? readError : EISDIR));
        return -1;
    }
    if (got == 2 && magic[0] == 'M' && magic[1] == 'Z') {
        if (length < static_cast<long>(ARCHIVE_OFFSET)) {
            fprintf(stderr, "vorpanex %s: %s: a program of %ld bytes, too short to carry a "
                    "setup archive at offset %u\n", verb, path, length, ARCHIVE_OFFSET);
            return -1;
        }
        return ARCHIVE_OFFSET;
    }
    return 0;
}

bool IsSetupFile(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    unsigned char magic[2] = {0, 0};
    const size_t got = fread(magic, 1, 2, file);
    fclose(file);
    return got == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

const char* FailureText(int failure) {
    switch (failure) {
        case FAILURE_OPEN: return "cannot open the file";
        case FAILURE_SEEK: return "the file is too short to hold an archive";
        case FAILURE_HEADER_SUM: return "header checksum mismatch";
        case FAILURE_BAD_HEADER: return "malformed or truncated header";
        case FAILURE_METHOD: return "unsupported method";
        case FAILURE_NAME: return "name not allowed as a file name";
        case FAILURE_PATH_TOO_LONG: return "output path too long";
        case FAILURE_TRUNCATED: return "truncated: the file ends inside this member";
        case FAILURE_CREATE: return "cannot create the output file";
        case FAILURE_WRITE: return "cannot write the output file";
        case FAILURE_CANCELLED: return "interrupted";
        case FAILURE_CRC: return "CRC mismatch";
        case FAILURE_BAD_DATA: return "corrupt compressed data (CRC mismatch)";
        case FAILURE_READ: return "read error: the data end before the file does";
        case FAILURE_LEVEL: return "header level not supported";
        case FAILURE_HEADER_CRC: return "header CRC mismatch";
        case FAILURE_NOT_FOLDER: return "a folder on the member's path is a file or a link";
        default: return "failed";
    }
}

const char NOT_AN_ARCHIVE[] = "not an archive: no member header where the archive starts";

std::string MethodOf(const uint8_t* header) {
    std::string method;
    for (int i = 0; i < 5; ++i) {
        const char c = static_cast<char>(header[i]);
        method += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return method;
}

std::string FailureDetail(int failure) {
    if (failure == FAILURE_LEVEL) {
        char text[64];
        snprintf(text, sizeof text, "header level %u is not supported",
                 extractionState.headerLevel);
        return text;
    }
    if (failure == FAILURE_METHOD) return "unsupported method " + MethodOf(extractionState.headerBuffer);
    return FailureText(failure);
}
