// The program's entry: the whole run from the progress window to the removal of the
// work directory. The exit code says how it went (see the README).
#include <string.h>

#include "archive/archive.h"
#include "archive/ui.h"
#include "shell/shell.h"

#include <commctrl.h>

namespace {

const char SETUP_CAPTION[] = "Setup";

// Loads DLLs from the system directory only, so that a DLL lying beside a downloaded
// setup is never loaded into it. Older systems lack the call and go on without it.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    SetDefaultDllDirectoriesFunction setDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories != nullptr) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void ShowError(HWND window, HINSTANCE instance, UINT id) {
    MessageBoxA(window, LoadText(instance, id), SETUP_CAPTION, MB_ICONERROR | MB_OK);
}

// SETUP32.EXE when it was extracted, else SETUP.EXE (whose absence the launch reports).
void ChooseSetupPath(char* setupPath, const char* workDirectory) {
    WIN32_FIND_DATAA found;
    strcpy(setupPath, workDirectory);
    JoinPath(setupPath, "SETUP32.EXE");
    HANDLE search = FindFirstFileA(setupPath, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return;
    }
    strcpy(setupPath, workDirectory);
    JoinPath(setupPath, "SETUP.EXE");
}

}  // namespace

int WINAPI RunSelfExtractor(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    InitCommonControls();
    HWND window = CreateDialogParamA(instance, "D_MAIN", nullptr, ProgressDialogProc, 0);
    ShowWindow(window, SW_SHOW);

    char workDirectory[MAX_PATH];
    if (!MakeWorkDirectory(workDirectory)) {
        // Nothing was extracted and nothing is to be removed.
        ShowError(window, instance, IDS_EXTRACT_FAILED);
        DestroyWindow(window);
        return static_cast<int>(EXIT_SETUP_FAILED);
    }

    char modulePath[MAX_PATH];
    const DWORD moduleLength = GetModuleFileNameA(instance, modulePath, MAX_PATH);
    if (moduleLength == 0 || moduleLength >= MAX_PATH) modulePath[0] = 0;

    DWORD exitCode;
    // The work directory's name is at most MAX_PATH - 14 long, so the setup name fits.
    if (modulePath[0] != 0 && ExtractArchive(window, modulePath, workDirectory) == 1) {
        DestroyWindow(window);
        char setupPath[MAX_PATH];
        ChooseSetupPath(setupPath, workDirectory);
        LaunchSetup(setupPath, instance, &exitCode);
    } else {
        const int cancelled = CancelRequested != 0;
        ShowError(window, instance, cancelled ? IDS_ABORTED : IDS_EXTRACT_FAILED);
        DestroyWindow(window);
        exitCode = cancelled ? EXIT_USER_CANCELLED : EXIT_SETUP_FAILED;
    }

    RemoveWorkDirectory(workDirectory);
    PostQuitMessage(0);
    return static_cast<int>(exitCode);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState) {
    return RunSelfExtractor(instance, previous, commandLine, showState);
}
