// The self-extractor's shell: the run from the entry point, the progress window and its
// pump, the work directory, the setup launch and the removal of the work directory.
#ifndef VORPANEX_SHELL_SHELL_H
#define VORPANEX_SHELL_SHELL_H

#include "platform/platform.h"

// Process exit codes besides the setup program's own (Windows Installer's values, which
// setup vendors' scripts already know).
const DWORD EXIT_USER_CANCELLED = 1602;
const DWORD EXIT_SETUP_FAILED = 1603;

// String table ids.
const UINT IDS_ABORTED = 10001;
const UINT IDS_EXTRACT_FAILED = 10002;
const UINT IDS_WRONG_PLATFORM = 10003;

// Progress window controls.
const int IDC_STATUS_LINE = 101;
const int IDC_PROGRESS_BAR = 102;

const unsigned LOAD_TEXT_SIZE = 512;
const unsigned LAUNCH_MESSAGE_SIZE = 1000;

// How long the run keeps trying to remove the work directory before it leaves the
// rest to the next restart, and the pause between attempts.
const DWORD REMOVAL_TIME_LIMIT_MS = 30000;
const DWORD REMOVAL_RETRY_PAUSE_MS = 100;

// How many fresh names the work directory gets when another process takes one first.
const int WORK_DIRECTORY_ATTEMPTS = 8;

int WINAPI RunSelfExtractor(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                            int showState);

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
// The longest name the work directory must hold: the setup program's.
const char LONGEST_SETUP_NAME[] = "SETUP32.EXE";
// 1 when every path the run forms from a work directory in a temporary path of this
// length fits its buffer: the setup program's path, and the member paths and removal
// patterns that the core's path rule allows for a name that long.
int WorkDirectoryFits(DWORD temporaryLength);

// Makes a fresh work directory in the temporary directory, open only to the current
// user, SYSTEM and Administrators. Returns 1 with its path in workDirectory (MAX_PATH),
// else 0 with workDirectory empty: also when the temporary path is too long for
// WorkDirectoryFits, in which case nothing is created.
int MakeWorkDirectory(char* workDirectory);

// The setup program's file (SETUP32.EXE, else SETUP.EXE) as the extraction created it,
// held against other processes until ReleaseSetupFiles (setupfile.cpp). Null, with
// error ERROR_FILE_NOT_FOUND, when the archive held neither; a path with a non-zero
// error when the file is no program this system can start.
const int SETUP_FILE_COUNT = 2;
const char* HeldSetupPath(DWORD* error);
void ReleaseSetupFiles();

// Starts the held setup program with the given arguments after its quoted path, and
// waits for it. Returns 1 when it ran, with its exit code in exitCode; 0 when it could
// not be started (the user has been told why), with EXIT_SETUP_FAILED, or
// EXIT_USER_CANCELLED when the user declined elevation.
int LaunchSetup(HINSTANCE instance, const char* arguments, DWORD* exitCode);

// Waits, pumping messages, while any process runs from a program inside the work
// directory (a setup's later stages); returns at once when processes cannot be listed.
void WaitForLaterStages(const char* workDirectory);

// Deletes the directory and everything in it without following reparse points.
// Non-zero when the directory is gone (also when it was gone already). Entries whose
// paths would not fit MAX_PATH are left alone and counted in removalSkipped.
int RemoveTree(const char* directory);
extern unsigned removalSkipped;
// Registers what is left of the tree for deletion at the next restart.
void ScheduleTreeRemoval(const char* directory);
// RemoveTree until it succeeds, for at most REMOVAL_TIME_LIMIT_MS; then schedules the
// rest. Does not retry when RemoveTree met paths too long to remove: they stay until
// the next restart. Non-zero when the directory is gone.
int RemoveWorkDirectory(const char* directory);

#endif
