// Member extraction: the archive walk, one member into one file, CRC-16 check.
#include "extract/extract.h"

#include "archive/archive.h"
#include "decode/decoder.h"
#include "extract/member_file.h"
#include "extract/ui.h"

uint32_t membersExtracted;
#ifndef PLATFORM_KERNEL32
int (*memberSelected)();
int (*memberFailed)();
int largeWindowRefused;
HFILE memberStream = HFILE_ERROR;
#endif

#ifdef PLATFORM_KERNEL32
UINT nameCodePage = CP_ACP;
#endif

namespace {

// Whether the member's bytes go to files or are only decoded and checked.
bool verifyOnly;

// The member's output path: the work directory joined with memberPath (memberPath
// alone for an empty work directory, which the stub gives: its member files are placed
// below the directory it holds). The member's own part starts at outputStart.
#ifdef PLATFORM_KERNEL32
char outputPath[PATH_BUFFER_SIZE];
#else
// The tool writes each member below a private folder in DIR (".vx-XXXXXX/") first: room
// for it beyond the longest member path.
char outputPath[PATH_BUFFER_SIZE + 16];
#endif
size_t outputStart;

int Fail(int failure) {
    extractionFailure = failure;
    return 0;
}

int FailWithSystemError(int failure) {
    extractionSystemError = static_cast<uint32_t>(GetLastError());
    return Fail(failure);
}

// Closes and deletes the member's file: a member that fails leaves nothing behind.
int FailClosing(int failure) {
    if (!verifyOnly) {
        _lclose(extractionState.outputFile);
        DeleteMemberFile(outputPath, outputPath + outputStart);
    }
    return Fail(failure);
}

// Makes sure the folder at path exists as a real folder: created when missing; a
// file or a link in its place fails the member.
int EnsureFolder(const char* path) {
    const DWORD attributes = MemberAttributes(path, path + outputStart);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateMemberFolder(path, path + outputStart)) {
            return FailWithSystemError(FAILURE_CREATE);
        }
        return 1;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Fail(FAILURE_NOT_FOLDER);
    }
    return 1;
}

// Forms outputPath for the member in hand and creates the folders on its way (the
// member's own folder too when it is a folder entry).
int PrepareOutputPath(const char* workDirectory, bool isFolder) {
    const char* memberPath = extractionState.memberPath;
    const size_t directoryLength = workDirectory[0] != 0 ? strlen(workDirectory) + 1 : 0;
    if (directoryLength + strlen(memberPath) + 1 > sizeof outputPath ||
        !MemberPathFits(workDirectory, memberPath)) {
        return Fail(FAILURE_PATH_TOO_LONG);
    }
    outputPath[0] = 0;
    if (directoryLength != 0) {
        strcpy(outputPath, workDirectory);
        JoinPath(outputPath, memberPath);
    } else {
        strcpy(outputPath, memberPath);
    }
    outputStart = strlen(outputPath) - strlen(memberPath);
    // '/' is never a trail byte of a double-byte character, so it marks exactly the
    // separators between the member's folders.
    for (size_t i = outputStart; outputPath[i] != 0; ++i) {
        if (outputPath[i] != '/') continue;
        outputPath[i] = 0;
        const int made = EnsureFolder(outputPath);
        outputPath[i] = PATH_SEPARATOR;
        if (!made) return 0;
    }
    return isFolder ? EnsureFolder(outputPath) : 1;
}

// Moves the archive file to offset from origin and gives the new position: through
// the 32-bit _llseek in the stub, through 64-bit offsets in the tool.
bool SeekArchiveFile(FileOffset offset, int origin, FileOffset* position) {
#ifdef PLATFORM_KERNEL32
    const LONG result = _llseek(archiveReader.handle, static_cast<LONG>(offset), origin);
    *position = static_cast<FileOffset>(result);
    return result != HFILE_ERROR;
#else
    const int64_t result =
        PlatformSeek(archiveReader.handle, static_cast<int64_t>(offset), origin);
    *position = static_cast<FileOffset>(result);
    return result >= 0;
#endif
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

int PathFits(const char* directory, const char* relativePath) {
    return strlen(directory) + 1 + strlen(relativePath) + SEARCH_PATTERN_ROOM + 1 <=
                   PATH_BUFFER_SIZE
               ? 1
               : 0;
}

int WriteChunk(const uint8_t* data, uint32_t count, HFILE file) {
#ifndef PLATFORM_KERNEL32
    if (verifyOnly && memberStream != HFILE_ERROR) file = memberStream;
    if (!verifyOnly || memberStream != HFILE_ERROR) {
#else
    if (!verifyOnly) {
#endif
        UINT written = _lwrite(file, reinterpret_cast<const char*>(data), count);
        if (written == static_cast<UINT>(HFILE_ERROR) || written < count) return 0;
    }
    UpdateCrcBlock(data, count);
    return 1;
}

namespace {

// Shows how far the walk is through the archive and lets the window's messages in:
// non-zero when a stop was asked for.
int ShowWalkProgress(HWND window) {
    const ExtractionState& state = extractionState;
    const uint64_t consumed = archiveReader.consumedBytes;
    ShowProgress(window, state.archiveSize == 0
                             ? 100u
                             : static_cast<unsigned>(consumed * 100 / state.archiveSize));
    PumpOneMessage();
    return CancelRequested;
}

// The member's next count bytes in the window, read as stored or decoded; null, with
// the reason in *failure, when they cannot be had. Data the decoder refused fail the
// member here, whatever the CRC-16 of the zeros that would follow says; and when the
// bit input asked for a byte beyond the end of the file the member is cut short,
// rather than decoded to its declared size from zeros.
const uint8_t* TakeChunk(char method, uint32_t count, int* failure) {
    ExtractionState& state = extractionState;
    *failure = FAILURE_NONE;
    if (method == '0') {
        const uint32_t got = archiveReader.ReadBytes(state.windowBuffer, count);
        state.packedRemaining -= got;
        if (got != count) *failure = FAILURE_TRUNCATED;
        return got != count ? nullptr : state.windowBuffer;
    }
    const uint8_t* chunk = DecodeChunk(count, state.windowBuffer);
    if (DecodeSawBadData()) {
        *failure = FAILURE_BAD_DATA;
    } else if (archiveReader.atEnd) {
        *failure = FAILURE_TRUNCATED;
    }
    return *failure != FAILURE_NONE ? nullptr : chunk;
}

}  // namespace

int ExtractMember(HWND window, const char* workDirectory) {
    ExtractionState& state = extractionState;
    const uint8_t* header = state.headerBuffer;
    const char method = static_cast<char>(header[3]);
    if (header[0] != '-' || header[1] != 'l' || header[2] != 'h' || header[4] != '-' ||
        (method != '0' && method != '4' && method != '5' && method != '6' && method != '7' &&
         method != 'd')) {
        return Fail(FAILURE_METHOD);
    }
#ifndef PLATFORM_KERNEL32
    if (method == '7' && largeWindowRefused) return Fail(FAILURE_METHOD);
#endif
    if (state.pathProblem != FAILURE_NONE) return Fail(state.pathProblem);
    const bool isFolder = method == 'd';
    // A folder entry holds no data; one that claims some is not what it says.
    if (isFolder && (state.originalRemaining != 0 || state.packedRemaining != 0)) {
        return Fail(FAILURE_BAD_HEADER);
    }
    // Stored data longer than the packed size would run into the next member.
    if (method == '0' && state.originalRemaining > state.packedRemaining) {
        return Fail(FAILURE_BAD_HEADER);
    }

    if (!verifyOnly) {
        if (!PrepareOutputPath(workDirectory, isFolder)) return 0;
        if (!isFolder) {
            state.outputFile = CreateMemberFile(outputPath, outputPath + outputStart);
            if (state.outputFile == HFILE_ERROR) return FailWithSystemError(FAILURE_CREATE);
        }
    }

    char text[OUTPUT_PATH_SIZE];
    static const char STATUS_PREFIX[] = "Extracting : ";
    static_assert(sizeof STATUS_PREFIX - 1 + PATH_BUFFER_SIZE <= OUTPUT_PATH_SIZE,
                  "status line fits");
    strcpy(text, STATUS_PREFIX);
    strcpy(text + sizeof STATUS_PREFIX - 1, state.memberPath);
    ShowStatusLine(window, text);
    PumpOneMessage();
    // Seen here too, so that a run of empty members and folders stops at once.
    if (CancelRequested) {
        return isFolder ? Fail(FAILURE_CANCELLED) : FailClosing(FAILURE_CANCELLED);
    }
    if (isFolder) return 1;

    state.runningCrc = 0;
    if (method != '0') BeginDecode(method);
    while (state.originalRemaining != 0) {
        const uint32_t count = state.originalRemaining <= WINDOW_SIZE
                                   ? static_cast<uint32_t>(state.originalRemaining)
                                   : WINDOW_SIZE;
        if (ShowWalkProgress(window)) return FailClosing(FAILURE_CANCELLED);
        int failure;
        const uint8_t* chunk = TakeChunk(method, count, &failure);
        if (chunk == nullptr) return FailClosing(failure);
        if (!WriteChunk(chunk, count, state.outputFile)) {
            extractionSystemError = static_cast<uint32_t>(GetLastError());
            return FailClosing(FAILURE_WRITE);
        }
        state.originalRemaining -= count;
    }

    if (!verifyOnly) {
        FILETIME local;
        FILETIME utc;
        bool timeKnown = false;
        if (state.timeIsUnix) {
            // Seconds since 1970 in UTC, as 100-ns ticks since 1601.
            const uint64_t ticks = (static_cast<uint64_t>(state.unixTime) + 11644473600ULL) *
                                   10000000ULL;
            utc.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
            utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
            timeKnown = true;
        } else {
            // A date or time word that is not a valid DOS value leaves the time as it is.
            timeKnown = DosDateTimeToFileTime(state.fileDate, state.fileTime, &local) &&
                        LocalFileTimeToFileTime(&local, &utc);
        }
        if (timeKnown) SetFileTime(HandleFromHfile(state.outputFile), nullptr, nullptr, &utc);
    }

    // A compressed member whose data the file could not supply is truncated, even when
    // the bytes lost held only padding and the CRC-16 matches.
    if (method != '0' && archiveReader.atEnd) return FailClosing(FAILURE_TRUNCATED);
    if (state.runningCrc != state.storedCrc) return FailClosing(FAILURE_CRC);
    if (!verifyOnly) CloseMemberFile(state.outputFile);
    return 1;
}

namespace {

// The digest that ExpectArchiveDigest armed for the next extraction.
bool digestExpected;
uint8_t expectedDigest[SHA256_SIZE];
uint32_t expectedLength;
Sha256 archiveDigest;

// Positions the file that the reader holds at the archive's offset.
int PositionArchive(FileOffset offset) {
    ExtractionState& state = extractionState;
    FileOffset length = 0;
    FileOffset start = 0;
    const bool found = SeekArchiveFile(0, FILE_END, &length);
    state.archiveSize = length - offset;
    state.archiveOffset = offset;
    if (!found || length < offset || !SeekArchiveFile(offset, FILE_BEGIN, &start)) {
        archiveReader.Close();
        return Fail(FAILURE_SEEK);
    }
    BuildCrcTable();
    return 1;
}

#ifndef PLATFORM_KERNEL32
// A member the tool's walk passes by is still decoded into the window, nothing written
// and nothing judged: the stub decodes every member, and a later member's match that
// reaches before its own first byte copies what they left there. Without this,
// choosing that member alone would give other bytes and another verdict than the stub.
// Stops quietly at the member's first fault (SkipMemberData then walks on or stops as
// for any member). 0 when cancelled.
int DecodePastMember(HWND window) {
    ExtractionState& state = extractionState;
    const char method = static_cast<char>(state.headerBuffer[3]);
    const bool compressed = method == '4' || method == '5' || method == '6' ||
                            (method == '7' && !largeWindowRefused);
    if (!compressed && method != '0') return 1;
    if (method == '0' && state.originalRemaining > state.packedRemaining) return 1;
    if (compressed) BeginDecode(method);
    uint64_t remaining = state.originalRemaining;
    while (remaining != 0) {
        const uint32_t count =
            remaining <= WINDOW_SIZE ? static_cast<uint32_t>(remaining) : WINDOW_SIZE;
        if (ShowWalkProgress(window)) return 0;
        int failure;
        if (TakeChunk(method, count, &failure) == nullptr) return 1;
        remaining -= count;
    }
    return 1;
}
#endif

// The walk over an open archive into workDirectory (or only checked), with the digest
// check when one was armed; closes the archive.
int ExtractOpenArchive(HWND window, const char* workDirectory, bool checkDigest) {
    if (checkDigest) {
        Sha256Begin(&archiveDigest);
        archiveReader.digest = &archiveDigest;
        archiveReader.digestRemaining = expectedLength;
    }
    for (;;) {
        const int next = NextMember();
        if (next == 0) break;
#ifndef PLATFORM_KERNEL32
        // The tool's member selection: a member not chosen is only walked past; and
        // past one that failed, when the tool goes on.
        if (next == 1 && memberSelected != nullptr && !memberSelected()) {
            if (!DecodePastMember(window)) {
                CloseArchive();
                return Fail(FAILURE_CANCELLED);
            }
            if (SkipMemberData()) continue;
            CloseArchive();
            return 0;
        }
        if (next == 1 && memberFailed != nullptr) {
            if (!ExtractMember(window, workDirectory)) {
                if (memberFailed() && SkipMemberData()) continue;
                CloseArchive();
                return 0;
            }
            if (!SkipMemberData()) {
                CloseArchive();
                return 0;
            }
            ++membersExtracted;
            continue;
        }
#endif
        if (next != 1 || !ExtractMember(window, workDirectory) || !SkipMemberData()) {
            CloseArchive();
            return 0;
        }
        ++membersExtracted;
    }
    if (checkDigest) {
        uint8_t digest[SHA256_SIZE];
        const int complete = archiveReader.FinishDigest();
        Sha256End(&archiveDigest, digest);
        if (!complete || memcmp(digest, expectedDigest, SHA256_SIZE) != 0) {
            CloseArchive();
            return Fail(FAILURE_DIGEST);
        }
    }
    CloseArchive();
    return 1;
}

// Begins an extraction: whether it checks a digest (armed for this one only).
bool BeginExtraction(const char* workDirectory) {
    membersExtracted = 0;
    verifyOnly = workDirectory == nullptr;
    const bool checkDigest = digestExpected;
    digestExpected = false;
    return checkDigest;
}

}  // namespace

int OpenArchive(const char* path, FileOffset offset) {
    extractionFailure = FAILURE_NONE;
    extractionSystemError = 0;
    if (!archiveReader.Open(path)) return FailWithSystemError(FAILURE_OPEN);
    return PositionArchive(offset);
}

int OpenArchiveFile(HFILE file, FileOffset offset) {
    extractionFailure = FAILURE_NONE;
    extractionSystemError = 0;
    archiveReader.Adopt(file);
    return PositionArchive(offset);
}

int NextMember() {
    const int header = ReadMemberHeader();
    if (header == 0) {
        // Data that end before the file does are a failed read (or a file that shrank),
        // not the end of the archive: members would go missing without a word.
        if (archiveReader.atEnd && archiveReader.consumedBytes != extractionState.archiveSize) {
            Fail(FAILURE_READ);
            return 2;
        }
        return 0;
    }
    if (header != 1 || !ReadExtendedHeaders()) return 2;
    return 1;
}

int SkipMemberData() {
    ExtractionState& state = extractionState;
    const FileOffset skipped = archiveReader.SkipBytes(state.packedRemaining);
    const bool complete = skipped == state.packedRemaining;
    state.packedRemaining -= skipped;
    return complete ? 1 : Fail(FAILURE_TRUNCATED);
}

void CloseArchive() {
    if (archiveReader.handle != 0) archiveReader.Close();
}

void ExpectArchiveDigest(const uint8_t* digest, uint32_t length) {
    memcpy(expectedDigest, digest, SHA256_SIZE);
    expectedLength = length;
    digestExpected = true;
}

int ExtractArchiveAt(HWND window, const char* archivePath, const char* workDirectory,
                     FileOffset offset) {
    const bool checkDigest = BeginExtraction(workDirectory);
    if (!OpenArchive(archivePath, offset)) return 0;
    return ExtractOpenArchive(window, workDirectory, checkDigest);
}


int ExtractArchive(HWND window, const char* modulePath, const char* workDirectory) {
    return ExtractArchiveAt(window, modulePath, workDirectory, ARCHIVE_OFFSET);
}

int ExtractArchiveFile(HWND window, HFILE file, const char* workDirectory) {
    const bool checkDigest = BeginExtraction(workDirectory);
    if (!OpenArchiveFile(file, ARCHIVE_OFFSET)) return 0;
    return ExtractOpenArchive(window, workDirectory, checkDigest);
}
