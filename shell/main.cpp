// The program's entry: the whole run from the progress window to the removal of the
// work directory. The exit code says how it went (see the README).
#include <string.h>

#include "archive/archive.h"
#include "archive/seal.h"
#include "extract/extract.h"
#include "extract/ui.h"
#include "shell/shell.h"

#include <commctrl.h>

namespace {

const char SETUP_CAPTION[] = "Setup";

// Filled in by pack (archive/seal.h). Read from the image in memory, which the system
// mapped from the file that was started, whatever now bears its name; volatile, since
// the values are not known when the stub is built.
const volatile ArchiveSeal archiveSeal = {VORPANEX_SEAL_MARK, 0, 0, {0}};

// The program's own file, opened before anything else and held without write or
// delete sharing until its archive has been read: from then on no other process can
// change, rename or replace it. The seal's digest covers what happened before.
HANDLE OpenOwnFile(HINSTANCE instance) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return INVALID_HANDLE_VALUE;
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Extracts the archive from the held file (which the extraction closes), checking it
// against the seal's digest when pack recorded one, with the names' code page it
// records. The stub's member files are placed below the work directory it holds
// (workdir.cpp): workDirectory is empty.
int ExtractOwnArchive(HWND window, HANDLE ownFile, const char* workDirectory) {
    if (ownFile == INVALID_HANDLE_VALUE) return 0;
    nameCodePage = archiveSeal.codePage;
    const uint32_t length = archiveSeal.archiveLength;
    if (length != 0) {
        uint8_t digest[SHA256_SIZE];
        for (unsigned i = 0; i < SHA256_SIZE; ++i) digest[i] = archiveSeal.digest[i];
        ExpectArchiveDigest(digest, length);
    }
    return ExtractArchiveFile(window, static_cast<HFILE>(reinterpret_cast<intptr_t>(ownFile)),
                              workDirectory);
}

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
    if (silentRun) return;
    MessageBoxA(window, LoadText(instance, id), SETUP_CAPTION, MB_ICONERROR | MB_OK);
}

// The command line's tail: what follows the program's name and the blanks after it,
// taken from the wide command line, so it reaches the setup program as it was given.
// The name ends as Windows ends it: at the closing quote when it starts with one, else
// at the first space or tab; every other character is part of it (the C runtime's ANSI
// tail compares bytes above 0x7F as negative numbers and stops inside such a name).
const wchar_t* CommandTail(const wchar_t* line) {
    const wchar_t* at = line;
    if (*at == '"') {
        ++at;
        while (*at != 0 && *at != '"') ++at;
        if (*at == '"') ++at;
    } else {
        while (*at != 0 && *at != ' ' && *at != '\t') ++at;
    }
    while (*at == ' ' || *at == '\t') ++at;
    return at;
}

// The switches by which deployment tools run a setup unattended, spelt as listed.
const wchar_t* const SILENT_SWITCHES[] = {L"/S", L"/s", L"/silent", L"/verysilent",
                                          L"/quiet", L"/q", L"/qn", L"/passive"};

// 1 when a word of the tail (blanks outside quotes end a word) is a silent switch.
int AsksForSilence(const wchar_t* tail) {
    const wchar_t* at = tail;
    while (*at != 0) {
        while (*at == ' ' || *at == '\t') ++at;
        const wchar_t* word = at;
        int quoted = 0;
        while (*at != 0 && (quoted || (*at != ' ' && *at != '\t'))) {
            if (*at == '"') quoted = !quoted;
            ++at;
        }
        for (const wchar_t* silent : SILENT_SWITCHES) {
            const size_t length = wcslen(silent);
            if (static_cast<size_t>(at - word) == length &&
                wcsncmp(word, silent, length) == 0) {
                return 1;
            }
        }
    }
    return 0;
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
// program unchanged; with a silent switch in it the run shows no window and no message,
// and says how it went by its exit code alone. The show state is not used.
int WINAPI RunSelfExtractor(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HANDLE ownFile = OpenOwnFile(instance);
    RestrictDllSearch();
    const wchar_t* arguments = CommandTail(GetCommandLineW());
    silentRun = AsksForSilence(arguments);
    HWND window = nullptr;
    if (!silentRun) {
        InitCommonControls();
        window = CreateDialogParamA(instance, "D_MAIN", nullptr, ProgressDialogProc, 0);
        ShowWindow(window, SW_SHOW);
    }

    if (!MakeWorkDirectory()) {
        // Nothing was extracted and nothing is to be removed.
        ShowError(window, instance, IDS_EXTRACT_FAILED);
        DestroyWindow(window);
        return static_cast<int>(EXIT_SETUP_FAILED);
    }

    DWORD exitCode;
    if (ExtractOwnArchive(window, ownFile, "") == 1) {
        DestroyWindow(window);
        if (LaunchSetup(instance, arguments, &exitCode)) WaitForLaterStages();
    } else {
        ReleaseSetupFiles();
        const int cancelled = CancelRequested != 0;
        ShowError(window, instance, cancelled ? IDS_ABORTED : IDS_EXTRACT_FAILED);
        DestroyWindow(window);
        exitCode = cancelled ? EXIT_USER_CANCELLED : EXIT_SETUP_FAILED;
    }

    RemoveWorkDirectory();
    PostQuitMessage(0);
    return static_cast<int>(exitCode);
}

// The C runtime's start-up applies pseudo-relocations, which exist only for data
// imported from DLLs; the stub imports none (shell/stub.ld fails the link if any
// appear), so this empty stand-in replaces the runtime's relocator and, with it, about
// 1 KB of code and two imports.
extern "C" void _pei386_runtime_relocator() {}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState) {
    return RunSelfExtractor(instance, previous, commandLine, showState);
}
