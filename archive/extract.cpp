// Member extraction: the archive walk, one member into one file, CRC-16 check.
#include "archive/archive.h"
#include "archive/member_file.h"
#include "archive/ui.h"
#include "decode/decoder.h"

uint32_t membersExtracted;

namespace {

// Whether the member's bytes go to files or are only decoded and checked.
bool verifyOnly;

int Fail(int failure) {
    extractionFailure = failure;
    return 0;
}

int FailClosing(int failure) {
    if (!verifyOnly) _lclose(extractionState.outputFile);
    return Fail(failure);
}

bool EqualsIgnoringCase(const char* text, size_t length, const char* upper) {
    if (strlen(upper) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

bool IsDeviceName(const char* name) {
    size_t stem = 0;
    while (name[stem] != 0 && name[stem] != '.') ++stem;
    // Trailing spaces are dropped by the system, so "CON " names the device too.
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (EqualsIgnoringCase(name, stem, device)) return true;
    }
    if (stem == 4 && (EqualsIgnoringCase(name, 3, "COM") || EqualsIgnoringCase(name, 3, "LPT")) &&
        name[3] >= '1' && name[3] <= '9') {
        return true;
    }
    return false;
}

}  // namespace

char* JoinPath(char* path, const char* name) {
    size_t length = strlen(path);
    if (length == 0 || (path[length - 1] != '\\' && path[length - 1] != '/')) {
        path[length++] = PATH_SEPARATOR;
        path[length] = 0;
    }
    strcpy(path + length, name);
    return path;
}

int IsSafeMemberName(const char* name) {
    if (name[0] == 0) return 0;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        if (PlatformIsLeadByte(*p)) {
            // A double-byte character: its trail byte (0x5C included) is not a separator.
            if (p[1] == 0) return 0;
            ++p;
            continue;
        }
        if (*p < 0x20 || *p == 0x7F) return 0;
        if (strchr("\\/:*?\"<>|", *p) != nullptr) return 0;
    }
    // Names ending in a dot or space are silently altered by the system.
    const size_t length = strlen(name);
    if (name[length - 1] == '.' || name[length - 1] == ' ') return 0;
    if (IsDeviceName(name)) return 0;
    return 1;
}

int SkipExtendedHeaders() {
    ExtractionState& state = extractionState;
    uint32_t size = GetHeaderField(state.headerSize - 2, 2);
    while (size != 0) {
        state.packedRemaining -= size;
        // A size of 1 wraps the count and runs the skip to the end of the data.
        for (uint32_t skip = size - 2; skip != 0; --skip) {
            archiveReader.ReadByte();
            if (archiveReader.atEnd) return 0;
        }
        const uint32_t low = archiveReader.ReadByte();
        const uint32_t high = archiveReader.ReadByte();
        if (archiveReader.atEnd) return 0;
        size = low + 256 * high;
    }
    return 1;
}

int WriteChunk(const uint8_t* data, uint32_t count, HFILE file) {
    if (!verifyOnly) {
        UINT written = _lwrite(file, reinterpret_cast<const char*>(data), count);
        if (written == static_cast<UINT>(HFILE_ERROR) || written < count) return 0;
    }
    UpdateCrcBlock(data, count);
    return 1;
}

int ExtractMember(HWND window, const char* workDirectory) {
    ExtractionState& state = extractionState;
    const uint8_t* header = state.headerBuffer;
    const char method = static_cast<char>(header[3]);
    if (header[0] != '-' || header[1] != 'l' || header[2] != 'h' || header[4] != '-' ||
        (method != '0' && method != '4' && method != '5' && method != '6')) {
        return Fail(FAILURE_METHOD);
    }
    const char* name = reinterpret_cast<const char*>(header + 20);
    if (!IsSafeMemberName(name)) return Fail(FAILURE_NAME);

    if (!SkipExtendedHeaders()) return Fail(FAILURE_TRUNCATED);

    char text[OUTPUT_PATH_SIZE];
    if (!verifyOnly) {
        if (strlen(workDirectory) + 1 + strlen(name) + 1 > sizeof text) {
            return Fail(FAILURE_PATH_TOO_LONG);
        }
        strcpy(text, workDirectory);
        JoinPath(text, name);
        state.outputFile = CreateMemberFile(text, name);
        if (state.outputFile == HFILE_ERROR) return Fail(FAILURE_CREATE);
    }

    static const char STATUS_PREFIX[] = "Extracting : ";
    static_assert(sizeof STATUS_PREFIX - 1 + 255 < OUTPUT_PATH_SIZE, "status line fits");
    strcpy(text, STATUS_PREFIX);
    strcpy(text + sizeof STATUS_PREFIX - 1, name);
    ShowStatusLine(window, text);
    PumpOneMessage();

    state.runningCrc = 0;
    if (method != '0') BeginDecode(method);
    while (state.originalRemaining != 0) {
        const uint32_t count =
            state.originalRemaining <= WINDOW_SIZE ? state.originalRemaining : WINDOW_SIZE;
        const uint64_t consumed = archiveReader.consumedBytes;
        ShowProgress(window, state.archiveSize == 0
                                 ? 100u
                                 : static_cast<unsigned>(consumed * 100 / state.archiveSize));
        PumpOneMessage();
        if (CancelRequested) return FailClosing(FAILURE_CANCELLED);
        if (method == '0') {
            if (archiveReader.ReadBytes(state.windowBuffer, count) != count) {
                return FailClosing(FAILURE_TRUNCATED);
            }
        } else {
            DecodeChunk(count, state.windowBuffer);
            // The bit input asked for a byte beyond the end of the file: the member is cut
            // short. Stop now rather than decode the rest of its declared size from zeros.
            if (archiveReader.atEnd) return FailClosing(FAILURE_TRUNCATED);
        }
        if (!WriteChunk(state.windowBuffer, count, state.outputFile)) {
            return FailClosing(FAILURE_WRITE);
        }
        state.originalRemaining -= count;
    }

    if (!verifyOnly) {
        // A date or time word that is not a valid DOS value leaves the time as it is.
        FILETIME local;
        FILETIME utc;
        if (DosDateTimeToFileTime(state.fileDate, state.fileTime, &local) &&
            LocalFileTimeToFileTime(&local, &utc)) {
            SetFileTime(HandleFromHfile(state.outputFile), nullptr, nullptr, &utc);
        }
        CloseMemberFile(state.outputFile);
    }

    // A compressed member whose data the file could not supply is truncated, even when
    // the bytes lost held only padding and the CRC-16 matches.
    if (method != '0' && archiveReader.atEnd) return Fail(FAILURE_TRUNCATED);
    if (state.runningCrc != state.storedCrc) {
        if (method != '0' && DecodeSawBadData()) return Fail(FAILURE_BAD_DATA);
        return Fail(FAILURE_CRC);
    }
    return 1;
}

int ExtractArchiveAt(HWND window, const char* archivePath, const char* workDirectory,
                     uint32_t offset) {
    extractionFailure = FAILURE_NONE;
    membersExtracted = 0;
    verifyOnly = workDirectory == nullptr;
    if (!archiveReader.Open(archivePath)) return Fail(FAILURE_OPEN);
    const LONG length = _llseek(archiveReader.handle, 0, FILE_END);
    extractionState.archiveSize = static_cast<uint32_t>(length) - offset;
    if (length == HFILE_ERROR || static_cast<uint32_t>(length) < offset ||
        _llseek(archiveReader.handle, static_cast<LONG>(offset), FILE_BEGIN) == HFILE_ERROR) {
        archiveReader.Close();
        return Fail(FAILURE_SEEK);
    }
    BuildCrcTable();
    for (;;) {
        const int header = ReadMemberHeader();
        if (header == 0) {
            // Data that end before the file does are a failed read (or a file that shrank),
            // not the end of the archive: members would go missing without a word.
            if (archiveReader.atEnd && archiveReader.consumedBytes != extractionState.archiveSize) {
                archiveReader.Close();
                return Fail(FAILURE_READ);
            }
            break;
        }
        if (header != 1 || !ExtractMember(window, workDirectory)) {
            archiveReader.Close();
            return 0;
        }
        ++membersExtracted;
    }
    archiveReader.Close();
    return 1;
}

int ExtractArchive(HWND window, const char* modulePath, const char* workDirectory) {
    return ExtractArchiveAt(window, modulePath, workDirectory, ARCHIVE_OFFSET);
}
