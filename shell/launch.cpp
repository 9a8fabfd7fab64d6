// The setup launch: start the extracted setup program, wait for it to end, then wait
// for the programs it left running from the work directory.
#include <string.h>

#include "shell/shell.h"

#include <shellapi.h>
#include <tlhelp32.h>

namespace {

// Not in every SDK's headers: CreateProcess's answer for a program that asks for elevation.
const DWORD ELEVATION_REQUIRED = 740;
// How often the wait for later stages looks again when a process cannot be opened
// for waiting.
const DWORD STAGE_POLL_MS = 500;

// Waits for the handle to be signalled (or the timeout to pass) while keeping this
// thread's messages moving; spends no processor time while nothing happens.
void WaitPumping(HANDLE handle, DWORD timeout) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (timeout != INFINITE && spent >= timeout) return;
        const DWORD left = timeout == INFINITE ? INFINITE : timeout - spent;
        const DWORD result = MsgWaitForMultipleObjects(handle == nullptr ? 0 : 1, &handle,
                                                       FALSE, left, QS_ALLINPUT);
        if (handle != nullptr && result == WAIT_OBJECT_0) return;
        if (result == WAIT_OBJECT_0 + (handle == nullptr ? 0 : 1)) {
            DrainMessages();
            continue;
        }
        if (result == WAIT_TIMEOUT) return;
        // The wait itself failed: fall back to a plain one.
        if (handle != nullptr) {
            WaitForSingleObject(handle, timeout);
        } else {
            Sleep(left);
        }
        return;
    }
}

// The end is seen through the handle, so an exit code of 259 (STILL_ACTIVE) is no obstacle.
DWORD WaitForProcess(HANDLE process) {
    WaitPumping(process, INFINITE);
    DWORD exitCode = EXIT_SETUP_FAILED;
    GetExitCodeProcess(process, &exitCode);
    return exitCode;
}

// Programs that ask for administrator rights cannot be started by CreateProcess; the
// shell starts them and the system asks the user. SHELL32 is loaded only for this,
// from the system directory.
int StartElevated(const wchar_t* setupPath, const wchar_t* arguments, HANDLE* process) {
    typedef BOOL(WINAPI * ShellExecuteExFunction)(SHELLEXECUTEINFOW*);
    HMODULE shell = LoadSystemLibrary("shell32.dll");
    ShellExecuteExFunction shellExecute =
        shell == nullptr ? nullptr
                         : reinterpret_cast<ShellExecuteExFunction>(
                               reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExW")));
    if (shellExecute == nullptr) return 0;
    SHELLEXECUTEINFOW info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = setupPath;
    info.lpParameters = arguments[0] != 0 ? arguments : nullptr;
    info.lpDirectory = workDirectory.path;
    info.nShow = SW_SHOWNORMAL;
    if (!shellExecute(&info)) return 0;
    *process = info.hProcess;
    return 1;
}

// Tells the user why the setup program did not start (nothing in a silent run).
// setupPath is null when the archive held no setup program.
void ShowLaunchFailure(DWORD error, HINSTANCE instance, const wchar_t* setupPath) {
    if (silentRun) return;
    char text[LAUNCH_MESSAGE_SIZE];
    text[0] = 0;
    static_assert(LOAD_TEXT_SIZE <= LAUNCH_MESSAGE_SIZE, "a loaded text fits");
    if (setupPath == nullptr) {
        strcpy(text, LoadText(instance, IDS_NO_SETUP_PROGRAM));
    } else if (error == ERROR_BAD_EXE_FORMAT) {
        strcpy(text, LoadText(instance, IDS_WRONG_PLATFORM));
    } else if (error == ERROR_BAD_FORMAT) {
        // The file's name: SETUP32.EXE or SETUP.EXE in the case the archive gives it.
        const wchar_t* name = wcsrchr(setupPath, L'\\');
        name = name != nullptr ? name + 1 : setupPath;
        char narrow[16];
        unsigned length = 0;
        while (name[length] != 0 && length + 1 < sizeof narrow) {
            narrow[length] = static_cast<char>(name[length]);
            ++length;
        }
        narrow[length] = 0;
        wsprintfA(text, LoadText(instance, IDS_NOT_A_PROGRAM), narrow);
    } else {
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       error, LANG_USER_DEFAULT, text, sizeof text, nullptr);
    }
    MessageBoxA(nullptr, text, nullptr, MB_OK);
}

// The setup program's path, quoted so that spaces in the work directory's path cannot
// select another program, then the arguments exactly as the stub was given them.
int FormCommandLine(wchar_t* commandLine, const wchar_t* setupPath, const wchar_t* arguments) {
    const size_t pathLength = lstrlenW(setupPath);
    const size_t argumentsLength = lstrlenW(arguments);
    if (pathLength + argumentsLength + 4 > COMMAND_LINE_SIZE) return 0;
    wchar_t* end = commandLine;
    *end++ = L'"';
    memcpy(end, setupPath, pathLength * sizeof(wchar_t));
    end += pathLength;
    *end++ = L'"';
    if (argumentsLength != 0) {
        *end++ = L' ';
        memcpy(end, arguments, argumentsLength * sizeof(wchar_t));
        end += argumentsLength;
    }
    *end = 0;
    return 1;
}

// 1 when the process still runs and its program file lies inside the directory (whose
// name ends in a backslash), with a handle to wait on in *waitable when one could be
// had (else null); 0 when it does not, or when that cannot be told.
int RunsFrom(DWORD processId, const wchar_t* directory, int directoryLength,
             HANDLE* waitable) {
    typedef BOOL(WINAPI * QueryImageNameFunction)(HANDLE, DWORD, LPWSTR, PDWORD);
    const QueryImageNameFunction queryImageName = reinterpret_cast<QueryImageNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                               "QueryFullProcessImageNameW")));
    wchar_t image[MAX_PATH];
    image[0] = 0;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    // An ended process that someone still holds a handle to may still be listed.
    if (process != nullptr && WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
        CloseHandle(process);
        return 0;
    }
    DWORD size = MAX_PATH;
    if (queryImageName != nullptr) {
        HANDLE query = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        if (query == nullptr || !queryImageName(query, 0, image, &size)) image[0] = 0;
        if (query != nullptr) CloseHandle(query);
    } else {
        // Systems before Vista: the first module of the process is its program.
        HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
        MODULEENTRY32W module;
        module.dwSize = sizeof module;
        if (modules != INVALID_HANDLE_VALUE && Module32FirstW(modules, &module)) {
            lstrcpynW(image, module.szExePath, MAX_PATH);
        }
        if (modules != INVALID_HANDLE_VALUE) CloseHandle(modules);
    }
    int inside = 0;
    if (lstrlenW(image) > directoryLength) {
        image[directoryLength] = 0;
        inside = lstrcmpiW(image, directory) == 0;
    }
    if (!inside && process != nullptr) CloseHandle(process);
    *waitable = inside ? process : nullptr;
    return inside;
}

// 1 when a process runs from a program inside the directory, with a handle to wait on
// in *waitable (or null); 0 when there is none, or when the processes cannot be listed.
int FindProcessRunningFrom(const wchar_t* directory, int directoryLength, HANDLE* waitable) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    int found = 0;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        found = entry.th32ProcessID != 0 && entry.th32ProcessID != self &&
                RunsFrom(entry.th32ProcessID, directory, directoryLength, waitable);
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace

int LaunchSetup(HINSTANCE instance, const wchar_t* arguments, DWORD* exitCode) {
    DWORD error = 0;
    const wchar_t* setupPath = HeldSetupPath(&error);
    if (setupPath == nullptr || error != 0) {
        ShowLaunchFailure(error, instance, setupPath);
        ReleaseSetupFiles();
        *exitCode = EXIT_SETUP_FAILED;
        return 0;
    }
    // On the stack: a static buffer this large would be stored in the image.
    wchar_t commandLine[COMMAND_LINE_SIZE];
    if (!FormCommandLine(commandLine, setupPath, arguments)) {
        ReleaseSetupFiles();
        ShowLaunchFailure(ERROR_FILENAME_EXCED_RANGE, instance, setupPath);
        *exitCode = EXIT_SETUP_FAILED;
        return 0;
    }

    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    memset(&started, 0, sizeof started);

    // The setup program starts in its own folder: what it loads or opens by a bare or
    // relative name comes from there, never from where the stub was started.
    HANDLE process = nullptr;
    if (CreateProcessW(setupPath, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                       nullptr, workDirectory.path, &startup, &started)) {
        CloseHandle(started.hThread);
        process = started.hProcess;
    } else {
        error = GetLastError();
        if (error == ELEVATION_REQUIRED) {
            if (StartElevated(setupPath, arguments, &process)) {
                error = 0;
            } else {
                error = GetLastError();
            }
        }
    }
    // Started (or not): the program's file need not be held any longer.
    ReleaseSetupFiles();

    if (error == 0) {
        *exitCode = 0;
        if (process != nullptr) {
            *exitCode = WaitForProcess(process);
            CloseHandle(process);
        }
        return 1;
    }
    if (error == ERROR_CANCELLED) {
        // The user said no to the elevation prompt: nothing to explain.
        *exitCode = EXIT_USER_CANCELLED;
        return 0;
    }
    ShowLaunchFailure(error, instance, setupPath);
    *exitCode = EXIT_SETUP_FAILED;
    return 0;
}

void WaitForLaterStages() {
    wchar_t directory[MAX_PATH];
    // Program paths come in their long form; the temporary path may be a short one.
    int length = static_cast<int>(GetLongPathNameW(workDirectory.path, directory, MAX_PATH - 1));
    if (length == 0 || length >= static_cast<int>(MAX_PATH) - 1) {
        lstrcpynW(directory, workDirectory.path, MAX_PATH - 1);
        length = lstrlenW(directory);
    }
    if (length == 0) return;
    if (directory[length - 1] != L'\\') {
        directory[length++] = L'\\';
        directory[length] = 0;
    }
    HANDLE process;
    while (FindProcessRunningFrom(directory, length, &process)) {
        WaitPumping(process, process == nullptr ? STAGE_POLL_MS : INFINITE);
        if (process != nullptr) CloseHandle(process);
    }
}
