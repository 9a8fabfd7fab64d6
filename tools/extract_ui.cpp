// The extraction's user interface and member files for the vorpanex program: the
// names the core calls, answered by test and extract (extract_verbs.cpp). Linked into
// the program only, as the tests bring their own.
#include "extract/member_file.h"
#include "extract/ui.h"
#include "tools/extract_verbs.h"

// Set by the stop signals that test and extract catch.
volatile int CancelRequested;

// The terminal has no messages to pump: a stop comes as a signal.
int PumpOneMessage() { return 0; }

// The core's "Extracting : NAME" is not shown as such: the bar names the member, since
// the verb may be test rather than extract.
void ShowStatusLine(HWND, const char*) { extraction::StartMemberReport(); }

void ShowProgress(HWND, unsigned position) { extraction::ShowMemberProgress(position); }

// The member paths of extract, in place of the core's plain ones: every path is formed
// relative to DIR, below the private folder, so only Linux's own limits apply, not the
// Windows path length that the core's rule keeps (test judges a setup's paths by the
// stub's rule apart).
int MemberPathFits(const char*, const char*) { return 1; }

DWORD MemberAttributes(const char* path, const char*) { return GetFileAttributesA(path); }

BOOL CreateMemberFolder(const char* path, const char*) { return CreateDirectoryA(path, nullptr); }

void DeleteMemberFile(const char* path, const char*) { DeleteFileA(path); }

HFILE CreateMemberFile(const char* path, const char* name) {
    return extraction::CreateExtractedFile(path, name);
}

HFILE CloseMemberFile(HFILE file) { return _lclose(file); }
