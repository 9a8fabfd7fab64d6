// Fuzz target: arbitrary bytes as a bare archive, extracted into a work directory that
// is emptied afterwards; nothing may appear outside it, and only plain files and real
// folders inside.
// The same archive is then checked without writing files (the tool's `test`), which
// must come to the same result for the same reason, and walked as `list` walks it,
// which must find the members the check passed.
#include <dirent.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract/extract.h"
#include "fuzz_support.h"

namespace {

// Extraction here spends its output budget on members of up to 8 KiB: the walk over
// members, names, folders and files is what this target is for, and the decoder
// target goes through chunks, window wraps and long members.
const uint32_t EXTRACT_OUTPUT_BUDGET = 8192;

// Checks that below the work directory there are only plain files and real folders,
// each with a safe name, and removes them: one pass over the tree.
void CheckAndEmpty(const std::string& folder) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) FuzzFailure("cannot list", folder);
    while (const dirent* entry = readdir(directory)) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        const std::string path = folder + "/" + name;
        if (!IsSafeMemberName(name)) FuzzFailure("unsafe name written", name);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info;
            if (lstat(path.c_str(), &info) != 0) FuzzFailure("cannot stat", path);
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR) {
            CheckAndEmpty(path);
            if (rmdir(path.c_str()) != 0) FuzzFailure("cannot remove", path);
        } else if (type == DT_REG) {
            if (unlink(path.c_str()) != 0) FuzzFailure("cannot remove", path);
        } else {
            FuzzFailure("neither a plain file nor a folder", path);
        }
    }
    closedir(directory);
}

// What changes when an entry is added to or removed from a directory.
struct DirectoryStamp {
    struct timespec modified, changed;
    nlink_t links;
    off_t size;

    static DirectoryStamp Of(const std::string& path) {
        struct stat info;
        if (stat(path.c_str(), &info) != 0) FuzzFailure("cannot stat", path);
        return {info.st_mtim, info.st_ctim, info.st_nlink, info.st_size};
    }
    bool operator==(const DirectoryStamp& o) const {
        return modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec &&
               links == o.links && size == o.size;
    }
};

// Whether adding an entry to the (empty) folder changes its stamp: on tmpfs a
// directory's size counts its entries; elsewhere a change within one clock tick may
// leave the stamp as it was.
bool StampsShowEntries(const std::string& folder) {
    const DirectoryStamp empty = DirectoryStamp::Of(folder);
    const std::string probe = folder + "/probe";
    const int file = open(probe.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (file < 0) FuzzFailure("cannot make", probe);
    close(file);
    const bool shows = DirectoryStamp::Of(folder).size != empty.size;
    if (unlink(probe.c_str()) != 0) FuzzFailure("cannot remove", probe);
    return shows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& root = ScratchRoot();
    static const std::string input = root + "/input.lzh";
    // No trailing separator: the core must add the right one itself.
    static const std::string work = root + "/work";
    PlatformServeMemory(input.c_str(), data, static_cast<UINT>(size));
    // The work directory stays from run to run, emptied after each. Where a directory's
    // stamp shows every entry left in it, a stamp as it was stands for a listing as it
    // was: one stat instead of reading the directory after every run.
    static bool stampsShowEntries;
    static std::vector<std::string> rootNames;
    static DirectoryStamp rootStamp, workStamp;
    static const bool ready = [] {
        if (mkdir(work.c_str(), 0700) != 0) FuzzFailure("cannot make", work);
        stampsShowEntries = StampsShowEntries(work);
        rootNames = ListDirectory(ScratchRoot());
        rootStamp = DirectoryStamp::Of(ScratchRoot());
        workStamp = DirectoryStamp::Of(work);
        return true;
    }();
    (void)ready;

    // Bytes before a member's start come from the window: the same for both runs. It
    // is cleared only after a run that took member data into it.
    static bool windowUsed = true;
    if (windowUsed) memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    ResetSilentUi(EXTRACT_OUTPUT_BUDGET);
    const int result = ExtractArchiveAt(nullptr, input.c_str(), work.c_str(), 0);
    const int failure = extractionFailure;
    const uint32_t extractedMembers = membersExtracted;
    if (extractionFailure == FAILURE_OPEN) FuzzFailure("the served input did not open");
    if ((result == 1) != (extractionFailure == FAILURE_NONE)) {
        FuzzFailure("result and failure disagree");
    }
    if (archiveReader.handle != 0) FuzzFailure("reader left open");

    if (!stampsShowEntries || !(DirectoryStamp::Of(root) == rootStamp)) {
        const std::vector<std::string> after = ListDirectory(root);
        if (after != rootNames) {
            std::string names;
            for (const std::string& name : after) names += " [" + name + "]";
            FuzzFailure("something changed outside the work directory:", names);
        }
    }
    if (!stampsShowEntries || !(DirectoryStamp::Of(work) == workStamp)) {
        CheckAndEmpty(work);
        workStamp = DirectoryStamp::Of(work);
    }

    windowUsed = SilentUiOutput() != 0;
    if (windowUsed) memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    ResetSilentUi(EXTRACT_OUTPUT_BUDGET);
    const int checked = ExtractArchiveAt(nullptr, input.c_str(), nullptr, 0);
    // Only writing meets what stands on disk: a file where a later member needs a folder
    // (or a folder where it needs a file), a path too long below the work directory;
    // checking goes on past that member (and may fail later, never sooner).
    const bool onlyWritingShows =
        (failure == FAILURE_NOT_FOLDER || failure == FAILURE_PATH_TOO_LONG ||
         failure == FAILURE_CREATE || failure == FAILURE_WRITE) &&
        (checked == 1 || membersExtracted >= extractedMembers);
    if (!onlyWritingShows && (checked != result || extractionFailure != failure)) {
        FuzzFailure("extracting and checking disagree",
                    std::to_string(result) + "/" + std::to_string(failure) + " vs " +
                        std::to_string(checked) + "/" + std::to_string(extractionFailure));
    }

    // list walks the members that test checks: a check that passes saw every member of
    // a walk that ends cleanly; a walk that fails fails the check too.
    const uint32_t checkedMembers = membersExtracted;
    windowUsed = SilentUiOutput() != 0;
    if (!OpenArchive(input.c_str(), 0)) FuzzFailure("the served input did not open");
    uint32_t walked = 0;
    int next;
    while ((next = NextMember()) == 1 && SkipMemberData()) ++walked;
    CloseArchive();
    if (checked == 1 && (next != 0 || walked != checkedMembers)) {
        FuzzFailure("list and test disagree", std::to_string(walked) + " walked, " +
                                                  std::to_string(checkedMembers) + " checked");
    }
    return 0;
}
