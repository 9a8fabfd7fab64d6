// The self-extractor's shell: the run from the entry point, the progress window and its
// pump, the work directory, the setup launch and the removal of the work directory.
#ifndef VORPANEX_SHELL_SHELL_H
#define VORPANEX_SHELL_SHELL_H

#include "archive/format.h"
#include "platform/platform.h"

// For large zero-filled variables: the size options give each variable a section of its
// own, which the linker would store in the image among the initialised data.
#define ZERO_FILLED __attribute__((section(".bss")))

// Process exit codes besides the setup program's own (Windows Installer's values, which
// setup vendors' scripts already know).
const DWORD EXIT_USER_CANCELLED = 1602;
const DWORD EXIT_SETUP_FAILED = 1603;

// String table ids.
const UINT IDS_ABORTED = 10001;
const UINT IDS_EXTRACT_FAILED = 10002;
const UINT IDS_WRONG_PLATFORM = 10003;
const UINT IDS_NO_SETUP_PROGRAM = 10004;
const UINT IDS_NOT_A_PROGRAM = 10005;  // %s: the setup program's name

// Progress window controls.
const int IDC_STATUS_LINE = 101;
const int IDC_PROGRESS_BAR = 102;

const unsigned LOAD_TEXT_SIZE = 512;
const unsigned LAUNCH_MESSAGE_SIZE = 1000;
// The longest command line a process can be given, terminator included.
const unsigned COMMAND_LINE_SIZE = 32768;

// How long the run keeps trying to remove the work directory before it leaves the
// rest to the next restart, and the pause between attempts.
const DWORD REMOVAL_TIME_LIMIT_MS = 30000;
const DWORD REMOVAL_RETRY_PAUSE_MS = 100;

// How many fresh names the work directory gets when another process takes one first.
const int WORK_DIRECTORY_ATTEMPTS = 8;

int WINAPI RunSelfExtractor(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                            int showState);

// 1 when the command line asked for an unattended run: no window, no message box.
extern int silentRun;

// Progress window.
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void CentreWindow(HWND window, HWND reference);
const char* LoadText(HINSTANCE instance, UINT id);
// Dispatches every pending message; for waits that wake on any input.
void DrainMessages();

// Loads a DLL from the system directory only, never from beside the stub.
HMODULE LoadSystemLibrary(const char* name);

// The work directory's name is the temporary path and up to this many more characters
// ("ZEB", four hexadecimal digits, ".tmp").
const DWORD WORK_NAME_LENGTH = 11;
// 1 when every path the run forms from a work directory in a temporary path of this
// many UTF-16 units fits its buffer: the setup program's path, and the member paths and
// removal patterns that the core's path rule allows for a name that long.
int WorkDirectoryFits(DWORD temporaryLength);

// What identifies a file or folder, whatever its name: its volume and its file index.
struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};
// The identity of what handle refers to, and whether it is a real folder (no link);
// 0 when that cannot be told.
int FolderIdentity(HANDLE handle, FileIdentity* identity);
// Opens what path names without following a link, for reading its attributes only,
// with every sharing but deletion: while open, it cannot be renamed or deleted.
HANDLE OpenHeld(const wchar_t* path);
// 1 when path names the real folder (no link, by its name and by a handle) with this
// identity; then *held is a handle to it from OpenHeld (when held is not null).
int LeadsTo(const wchar_t* path, const FileIdentity& identity, HANDLE* held);

// The work directory: its path, and a handle held from its creation until its removal
// that does not share deletion, so that the name cannot be renamed, deleted or replaced
// while held; its identity tells whether a name still leads to it.
struct WorkDirectory {
    wchar_t path[MAX_PATH];
    HANDLE held;
    FileIdentity identity;
};
extern WorkDirectory workDirectory;

// The security of a new work directory: a protected access list (nothing inherited
// from the temporary directory) whose entries pass on to everything created inside.
// Unelevated: the current user, SYSTEM and Administrators; elevated (the user's SID is
// then shared with the user's unelevated processes): SYSTEM and Administrators only,
// with a high mandatory label that refuses writes from below.
struct WorkDirectorySecurity {
    SECURITY_ATTRIBUTES attributes;
    SECURITY_DESCRIPTOR descriptor;
    DWORD acl[128];
    DWORD labelAcl[32];
    DWORD tokenUser[64];
    DWORD sids[3][SECURITY_MAX_SID_SIZE / sizeof(DWORD) + 1];  // SYSTEM, Administrators,
                                                                // the high label
};
int BuildWorkDirectorySecurity(WorkDirectorySecurity* security, int elevated);
// Whether this process's token is elevated (0 where the system has no elevation).
int TokenIsElevated();

// Makes a fresh work directory in the temporary directory (see WorkDirectorySecurity)
// and holds it. Returns 1 with workDirectory filled, else 0 with its path empty: also
// when the temporary path is too long for WorkDirectoryFits, in which case nothing is
// created.
int MakeWorkDirectory();

// The member's path below the work directory (relative, in the names' code page) as a
// full UTF-16 path in a MAX_PATH buffer; 0 when it does not convert or does not keep to
// the path rule.
int MemberPathInWorkDirectory(wchar_t* path, const char* relative);

// The setup program's file (SETUP32.EXE, else SETUP.EXE) as the extraction created it,
// held against other processes until ReleaseSetupFiles (setupfile.cpp). Null, with
// error ERROR_FILE_NOT_FOUND, when the archive held neither; a path with a non-zero
// error when the file is no program this system can start: ERROR_BAD_EXE_FORMAT for a
// program made for another system, ERROR_BAD_FORMAT for a file that is no program.
const wchar_t* HeldSetupPath(DWORD* error);
void ReleaseSetupFiles();

// Starts the held setup program in the work directory with the given arguments after
// its quoted path, and waits for it. Returns 1 when it ran, with its exit code in
// exitCode; 0 when it could not be started (the user has been told why), with
// EXIT_SETUP_FAILED, or EXIT_USER_CANCELLED when the user declined elevation.
int LaunchSetup(HINSTANCE instance, const wchar_t* arguments, DWORD* exitCode);

// Waits, pumping messages, while any process runs from a program inside the work
// directory (a setup's later stages); returns at once when processes cannot be listed.
void WaitForLaterStages();

// Removes the work directory: everything inside the directory that was created and is
// held, never anything a link or a changed name leads to (see remove.cpp). Retries for
// at most REMOVAL_TIME_LIMIT_MS, then leaves what is inside to the next restart. Does
// not retry when it met paths too long to remove. Non-zero when the directory is gone
// (also when its name no longer leads to it). Releases the hold in any case.
int RemoveWorkDirectory();
// Entries whose paths would not fit MAX_PATH, left alone by the last removal attempt.
extern unsigned removalSkipped;

#endif
