// The program's entry: the whole run from the progress window to the removal of the
// work directory. The exit code says how it went (see the README).
#include <string.h>

#include "archive/archive.h"
#include "archive/ui.h"
#include "shell/shell.h"

#include <commctrl.h>

namespace {

const char SETUP_CAPTION[] = "Setup";

// Whether the search for DLLs loaded at run time is restricted to the system directory.
int dllSearchRestricted;

// Loads DLLs from the system directory only, so that a DLL lying beside a downloaded
// setup is never loaded into it. Older systems lack the call and go on without it.
// Only the system's own DLLs are imported at load time, which the system always takes
// from its own directory; everything else is loaded later through LoadSystemLibrary.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    SetDefaultDllDirectoriesFunction setDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories != nullptr && setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        dllSearchRestricted = 1;
    }
}

void ShowError(HWND window, HINSTANCE instance, UINT id) {
    MessageBoxA(window, LoadText(instance, id), SETUP_CAPTION, MB_ICONERROR | MB_OK);
}

}  // namespace

HMODULE LoadSystemLibrary(const char* name) {
    if (dllSearchRestricted) return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the restriction, at least the DLL itself comes from the system directory.
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + strlen(name) + 1 > MAX_PATH) return nullptr;
    JoinPath(path, name);
    return LoadLibraryA(path);
}

// The command line's tail (everything after the program's name) goes to the setup
// program unchanged; the show state is not used.
int WINAPI RunSelfExtractor(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
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
    if (modulePath[0] != 0 && ExtractArchive(window, modulePath, workDirectory) == 1) {
        DestroyWindow(window);
        if (LaunchSetup(instance, arguments == nullptr ? "" : arguments, &exitCode)) {
            WaitForLaterStages(workDirectory);
        }
    } else {
        ReleaseSetupFiles();
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
