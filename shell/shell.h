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

// Makes a fresh work directory in the temporary directory, open only to the current
// user, SYSTEM and Administrators. Returns 1 with its path in workDirectory (MAX_PATH),
// else 0 with workDirectory empty.
int MakeWorkDirectory(char* workDirectory);

// Starts the setup program and waits for it. Returns 1 when it ran, with its exit code
// in exitCode; 0 when it could not be started (the user has been told why), with
// EXIT_SETUP_FAILED, or EXIT_USER_CANCELLED when the user declined elevation.
int LaunchSetup(const char* setupPath, HINSTANCE instance, DWORD* exitCode);

// Deletes the directory and everything in it without following reparse points.
// Non-zero when the directory itself was removed.
int RemoveTree(const char* directory);
// Registers what is left of the tree for deletion at the next restart.
void ScheduleTreeRemoval(const char* directory);
// RemoveTree until it succeeds, for at most REMOVAL_TIME_LIMIT_MS; then schedules the
// rest. Non-zero when the directory is gone.
int RemoveWorkDirectory(const char* directory);

#endif
