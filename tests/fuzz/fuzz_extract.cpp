// Fuzz target: arbitrary bytes as a bare archive, extracted into a work directory that
// is emptied afterwards; nothing may appear outside it, and only plain files and real
// folders inside.
// The same archive is then checked without writing files (the tool's `test`), which
// must come to the same result for the same reason, and walked as `list` walks it,
// which must find the members the check passed.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "fuzz_support.h"

namespace {

// Only plain files and real folders, each with a safe name, below the work directory.
void CheckTree(const std::string& folder) {
    for (const std::string& name : ListDirectory(folder)) {
        struct stat info;
        const std::string path = folder + "/" + name;
        if (!IsSafeMemberName(name.c_str())) FuzzFailure("unsafe name written", name);
        if (lstat(path.c_str(), &info) != 0) FuzzFailure("cannot stat", path);
        if (S_ISDIR(info.st_mode)) {
            CheckTree(path);
        } else if (!S_ISREG(info.st_mode)) {
            FuzzFailure("neither a plain file nor a folder", path);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& root = ScratchRoot();
    static const std::string input = root + "/input.lzh";
    // No trailing separator: the core must add the right one itself.
    static const std::string work = root + "/work";
    PlatformServeMemory(input.c_str(), data, static_cast<UINT>(size));
    // The work directory stays from run to run, emptied after each.
    static const std::vector<std::string> before = [] {
        if (mkdir(work.c_str(), 0700) != 0) FuzzFailure("cannot make", work);
        return ListDirectory(ScratchRoot());
    }();

    // Bytes before a member's start come from the window: the same for both runs.
    memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    ResetSilentUi(FuzzOutputBudget(size));
    const int result = ExtractArchiveAt(nullptr, input.c_str(), work.c_str(), 0);
    const int failure = extractionFailure;
    const uint32_t extractedMembers = membersExtracted;
    if (extractionFailure == FAILURE_OPEN) FuzzFailure("the served input did not open");
    if ((result == 1) != (extractionFailure == FAILURE_NONE)) {
        FuzzFailure("result and failure disagree");
    }
    if (archiveReader.handle != 0) FuzzFailure("reader left open");

    const std::vector<std::string> after = ListDirectory(root);
    if (after != before) {
        std::string names;
        for (const std::string& name : after) names += " [" + name + "]";
        FuzzFailure("something changed outside the work directory:", names);
    }
    CheckTree(work);
    for (const std::string& name : ListDirectory(work)) RemoveTree(work + "/" + name);

    memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    ResetSilentUi(FuzzOutputBudget(size));
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
