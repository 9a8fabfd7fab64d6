// The setup launch: start the extracted setup program and wait for it to end.
#include <string.h>

#include "shell/shell.h"

#include <shellapi.h>

namespace {

// Not in every SDK's headers: CreateProcess's answer for a program that asks for elevation.
const DWORD ELEVATION_REQUIRED = 740;

// Waits for the process to end while keeping this thread's messages moving; spends no
// processor time while nothing happens. The end is seen through the handle, so an exit
// code of 259 (STILL_ACTIVE) is no obstacle.
DWORD WaitForProcess(HANDLE process) {
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0 + 1) {
            DrainMessages();
            continue;
        }
        if (result != WAIT_OBJECT_0) WaitForSingleObject(process, INFINITE);
        break;
    }
    DWORD exitCode = EXIT_SETUP_FAILED;
    GetExitCodeProcess(process, &exitCode);
    return exitCode;
}

// Programs that ask for administrator rights cannot be started by CreateProcess; the
// shell starts them and the system asks the user.
int StartElevated(const char* setupPath, HANDLE* process) {
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = setupPath;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) return 0;
    *process = info.hProcess;
    return 1;
}

void ShowLaunchFailure(DWORD error, HINSTANCE instance) {
    char text[LAUNCH_MESSAGE_SIZE];
    text[0] = 0;
    if (error == ERROR_BAD_EXE_FORMAT) {
        lstrcpynA(text, LoadText(instance, IDS_WRONG_PLATFORM), sizeof text);
    } else {
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       error, LANG_USER_DEFAULT, text, sizeof text, nullptr);
    }
    MessageBoxA(nullptr, text, nullptr, MB_OK);
}

}  // namespace

int LaunchSetup(const char* setupPath, HINSTANCE instance, DWORD* exitCode) {
    // The program is named apart from the command line, and the command line quotes it,
    // so that spaces in the work directory's path cannot select another program.
    char commandLine[MAX_PATH + 3];
    commandLine[0] = '"';
    lstrcpynA(commandLine + 1, setupPath, MAX_PATH);
    const size_t length = strlen(commandLine);
    commandLine[length] = '"';
    commandLine[length + 1] = 0;

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    memset(&started, 0, sizeof started);

    // No current directory: the setup program starts in ours, as it always has.
    if (CreateProcessA(setupPath, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                       nullptr, nullptr, &startup, &started)) {
        CloseHandle(started.hThread);
        *exitCode = WaitForProcess(started.hProcess);
        CloseHandle(started.hProcess);
        return 1;
    }

    DWORD error = GetLastError();
    if (error == ELEVATION_REQUIRED) {
        HANDLE process = nullptr;
        if (StartElevated(setupPath, &process)) {
            *exitCode = 0;
            if (process != nullptr) {
                *exitCode = WaitForProcess(process);
                CloseHandle(process);
            }
            return 1;
        }
        error = GetLastError();
        if (error == ERROR_CANCELLED) {
            // The user said no to the elevation prompt: nothing to explain.
            *exitCode = EXIT_USER_CANCELLED;
            return 0;
        }
    }
    ShowLaunchFailure(error, instance);
    *exitCode = EXIT_SETUP_FAILED;
    return 0;
}
