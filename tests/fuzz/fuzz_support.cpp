// Silent UI seam, scratch directory and file helpers for the fuzz targets (host only).
#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "archive/archive.h"
#include "extract/ui.h"

volatile int CancelRequested;

namespace {

int pumps;
uint32_t outputBytes;
uint32_t outputBudget = FUZZ_OUTPUT_BUDGET;

void RemoveScratchAtExit() {
    RemoveTree(ScratchRoot());
}

}  // namespace

int PumpOneMessage() {
    if (++pumps >= FUZZ_PUMP_BUDGET) CancelRequested = 1;
    return 0;
}

void ShowStatusLine(HWND, const char*) {}

void ShowProgress(HWND, unsigned position) {
    if (position > 100) FuzzFailure("progress position above 100");
    // Shown before each chunk: the chunk about to be decoded.
    const uint32_t left = extractionState.originalRemaining;
    outputBytes += left < WINDOW_SIZE ? left : WINDOW_SIZE;
    if (outputBytes > outputBudget) CancelRequested = 1;
}

void ResetSilentUi(uint32_t budget) {
    pumps = 0;
    outputBytes = 0;
    outputBudget = budget;
    CancelRequested = 0;
}

int SilentUiPumps() { return pumps; }

uint32_t SilentUiOutput() { return outputBytes; }

const std::string& ScratchRoot() {
    static std::string root;
    if (root.empty()) {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") +
                              "/vorpanex-fuzz-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data()) == nullptr) FuzzFailure("cannot make scratch directory");
        root = buffer.data();
        atexit(RemoveScratchAtExit);
    }
    return root;
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) FuzzFailure("cannot list", path);
    while (const dirent* entry = readdir(directory)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        for (const std::string& name : ListDirectory(path)) RemoveTree(path + "/" + name);
        if (rmdir(path.c_str()) != 0) FuzzFailure("cannot remove", path);
    } else if (unlink(path.c_str()) != 0) {
        FuzzFailure("cannot remove", path);
    }
}

void FuzzFailure(const char* what, const std::string& detail) {
    fprintf(stderr, "fuzz check failed: %s%s%s\n", what, detail.empty() ? "" : ": ",
            detail.c_str());
    fflush(stderr);
    abort();
}
