// Helpers of list, test and extract.
#include "tools/reading.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "archive/archive.h"
#include "extract/extract.h"
#include "platform/system.h"
#include "archive/names.h"
#include "tools/terminal.h"

namespace {

// What a FILE that is not a regular file is, for the message; "" for a regular file.
const char* NotARegularFile(const FileStatus& status) {
    if (S_ISREG(status.st_mode)) return "";
    if (S_ISDIR(status.st_mode)) return "a directory, not an archive";
    if (S_ISFIFO(status.st_mode)) {
        return "a pipe (such as <(...)), not a file: the archive must be read from a file "
               "that can be seeked; save it to a file first";
    }
    if (S_ISSOCK(status.st_mode)) return "a socket, not a file";
    return "a device, not a file";
}

}  // namespace

long ArchiveOffsetOf(const char* verb, const char* path, std::string* reason) {
    std::string why;
    long offset = -1;
    FileStatus status;
    FILE* file = nullptr;
    if (sys::Status(path, &status) != 0) {
        why = strerror(errno);
    } else if (*NotARegularFile(status) != 0) {
        why = NotARegularFile(status);
    } else if ((file = sys::OpenStream(path, "rb")) == nullptr) {
        why = strerror(errno);
    } else {
        unsigned char magic[2] = {0, 0};
        const size_t got = fread(magic, 1, 2, file);
        const int readError = ferror(file) ? errno : 0;
        const long long length = status.st_size;
        fclose(file);
        if (readError != 0 || length < 0) {
            why = strerror(readError != 0 ? readError : errno);
        } else if (got == 2 && magic[0] == 'M' && magic[1] == 'Z') {
            if (length < static_cast<long long>(ARCHIVE_OFFSET)) {
                char text[128];
                snprintf(text, sizeof text, "a program of %lld bytes, too short to carry a "
                         "setup archive at offset %u", length, ARCHIVE_OFFSET);
                why = text;
            } else {
                offset = ARCHIVE_OFFSET;
            }
        } else {
            offset = 0;
        }
    }
    if (offset < 0) {
        ProgressDone();
        fprintf(stderr, "vorpanex %s: %s: %s\n", verb, EscapeForTerminal(path).c_str(),
                why.c_str());
        if (reason != nullptr) *reason = why;
    }
    return offset;
}

bool IsSetupFile(const char* path) {
    FILE* file = sys::OpenStream(path, "rb");
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
        case FAILURE_DIGEST:
            return "the archive is not the one sealed into the stub (SHA-256 mismatch): changed "
                   "after packing, or put behind another setup's stub; the setup would not run";
        case FAILURE_TOO_LARGE:
            return "64-bit sizes (extended header 0x42) that do not match the header's own";
        default: return "failed";
    }
}

const char NOT_LHA[] = "not an LHA archive or setup";

bool StartsWithMemberHeader(const unsigned char* h, size_t length) {
    if (length < 21 || h[2] != '-' || h[3] != 'l' || h[6] != '-' || h[20] > 3) return false;
    if (h[20] == 3) return h[0] == 4 && h[1] == 0;
    if (h[20] == 2) return static_cast<unsigned>(h[0] | h[1] << 8) >= LEVEL2_BASE_SIZE;
    if (h[0] < LEVEL0_FIXED_SIZE || 2u + h[0] > length) return false;
    unsigned sum = 0;
    for (unsigned k = 0; k < h[0]; ++k) sum += h[2 + k];
    return (sum & 0xFF) == h[1];
}

std::string OtherSelfExtractor(const char* path) {
    FILE* file = sys::OpenStream(path, "rb");
    if (file == nullptr) return "";
    std::vector<unsigned char> head(ARCHIVE_OFFSET + 64);
    head.resize(fread(head.data(), 1, head.size(), file));
    fclose(file);
    for (size_t i = 0; i < ARCHIVE_OFFSET && i + 26 <= head.size(); ++i) {
        if (!StartsWithMemberHeader(head.data() + i, head.size() - i)) continue;
        char text[200];
        snprintf(text, sizeof text, "other self-extractor format: its LHA archive starts at "
                 "offset %zu, not at %u where a vorpanex setup's does; not read", i,
                 ARCHIVE_OFFSET);
        return text;
    }
    return "";
}
const char NOT_AN_ARCHIVE[] =
    "not an LHA archive or setup: no member header where the archive starts";

bool NoArchiveAtAll(int failure, bool firstMember) {
    if (!firstMember || (failure != FAILURE_HEADER_SUM && failure != FAILURE_BAD_HEADER &&
                         failure != FAILURE_LEVEL && failure != FAILURE_METHOD &&
                         failure != FAILURE_HEADER_CRC)) {
        return false;
    }
    const uint8_t* method = extractionState.headerBuffer;
    return method[0] != '-' || method[4] != '-';
}

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
    if (failure == FAILURE_METHOD) {
        const std::string method = MethodOf(extractionState.headerBuffer);
        if (method == "-lh7-" && largeWindowRefused) {
            return "method -lh7- (64 KiB window): the setup's stub is from before -lh7- and "
                   "cannot extract it; repack with -m lh6";
        }
        return "unsupported method " + method;
    }
    return FailureText(failure);
}
