// Fuzz target: arbitrary bytes as a bare archive, extracted into a fresh directory that
// is removed afterwards; nothing may appear outside it, and only plain files inside.
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& root = ScratchRoot();
    static const std::string input = root + "/input.lzh";
    // No trailing separator: the core must add the right one itself.
    static const std::string work = root + "/work";
    WriteWholeFile(input, data, size);
    if (mkdir(work.c_str(), 0700) != 0) FuzzFailure("cannot make", work);
    const std::vector<std::string> before = ListDirectory(root);

    ResetSilentUi();
    const int result = ExtractArchiveAt(nullptr, input.c_str(), work.c_str(), 0);
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
    for (const std::string& name : ListDirectory(work)) {
        struct stat info;
        const std::string path = work + "/" + name;
        if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            FuzzFailure("not a plain file", path);
        }
        if (!IsSafeMemberName(name.c_str())) FuzzFailure("unsafe name written", name);
    }
    RemoveTree(work);
    return 0;
}
