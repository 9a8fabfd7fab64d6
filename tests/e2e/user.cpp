// Acts as the user in the stub's end-to-end tests: starts the setup, waits for its
// windows, reads what they show and presses their buttons, then reports in UTF-8
// "key=value" lines what it saw and the setup's exit code.
//
//   user.exe REPORT SETUP.EXE STEP...
//
// Each observation also saves the screen as REPORT.N-WHAT.bmp.
// Steps, in order:
//   env:NAME=VALUE  set an environment variable for the setup (before it starts)
//   args:TEXT       the setup's arguments: its command line is "SETUP.EXE" TEXT
//   start           start the setup (done by the first step that needs it)
//   unquoted        start the setup with its path unquoted on its command line
//   suspended       start the setup suspended, report "suspended=yes", and let it run
//                   once the file REPORT.resume exists (the test changes files meanwhile)
//   progress        wait for the progress window; report caption, status line, bar,
//                   its width in the screen's pixels and icon (size, centre colour)
//   status          wait until the status line is not empty; report it
//   cancel          press Cancel on the progress window
//   escape          press Esc on the progress window (a key posted to it)
//   watch           until the setup ends (at most 20 s), look for any visible window
//                   of it; report "windows_seen" (how many looks found one)
//   box             wait for a message box; report its caption and text, and whether
//                   the progress window is still visible
//   ok              press OK on the message box
//   window:CAPTION  wait for a visible window with this caption (any process)
//   exit            wait for the setup to end; report its exit code and the tick count
//                   when its end was seen (always done last)
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

const wchar_t PROGRESS_CAPTION[] = L"Setup is Self-Extracting";
const DWORD STEP_TIMEOUT_MS = 60000;
const DWORD EXIT_TIMEOUT_MS = 120000;

FILE* report;
PROCESS_INFORMATION setup;
bool started;
DWORD startFlags;
bool unquoted;
std::wstring arguments;
HWND messageBox;

std::string Utf8(const std::wstring& text) {
    std::string result;
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return result;
    result.resize(length);
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], length, nullptr, nullptr);
    result.resize(length - 1);
    std::string escaped;
    for (char c : result) {
        if (c == '\n') escaped += "\\n";
        else if (c == '\r') escaped += "\\r";
        else escaped += c;
    }
    return escaped;
}

void Line(const char* key, const std::wstring& value) {
    fprintf(report, "%s=%s\n", key, Utf8(value).c_str());
    fflush(report);
}

void LineNumber(const char* key, unsigned long value) {
    fprintf(report, "%s=%lu\n", key, value);
    fflush(report);
}

std::wstring Text(HWND window) {
    wchar_t buffer[2048];
    buffer[0] = 0;
    GetWindowTextW(window, buffer, 2048);
    return buffer;
}

std::wstring ClassName(HWND window) {
    wchar_t buffer[256];
    buffer[0] = 0;
    GetClassNameW(window, buffer, 256);
    return buffer;
}

bool OfSetup(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == setup.dwProcessId;
}

HWND FindProgress() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32770", PROGRESS_CAPTION)) != nullptr) {
        if (OfSetup(window) && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

BOOL CALLBACK FindBox(HWND window, LPARAM result) {
    if (IsWindowVisible(window) && ClassName(window) == L"#32770" &&
        Text(window) != PROGRESS_CAPTION && OfSetup(window)) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindAnyWindow(HWND window, LPARAM result) {
    if (!IsWindowVisible(window) || !OfSetup(window)) return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

// Saves the whole screen as a 24-bit BMP beside the report (REPORT.N-WHAT.bmp). Taken
// here rather than from the X server so that nothing grabs the display under the setup.
std::wstring reportPath;
int shots;

void SaveScreen(const char* what) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD rowBytes = ((width * 3 + 3) / 4) * 4;
    const DWORD imageBytes = rowBytes * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageBytes;
    wchar_t path[MAX_PATH];
    swprintf(path, MAX_PATH, L"%ls.%d-%hs.bmp", reportPath.c_str(), shots++, what);
    FILE* output = _wfopen(path, L"wb");
    if (output != nullptr) {
        fwrite(&file, sizeof file, 1, output);
        fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, output);
        fwrite(bits, 1, imageBytes, output);
        fclose(output);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// The progress window's icon as shown: the size of its control (which takes the icon's
// size) and the colour on screen at the control's centre. Read from the screen, not
// from the icon handle: another process's icon cannot be read back everywhere (a 32-bit
// helper on 64-bit Wine gets nothing), and the screen is what the user sees.
void ReportIcon(HWND progress) {
    HWND child = nullptr;
    while ((child = FindWindowExW(progress, child, L"Static", nullptr)) != nullptr) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) break;
    }
    RECT area = {};
    if (child == nullptr || !GetWindowRect(child, &area)) {
        Line("progress_icon", L"none");
        return;
    }
    HDC screen = GetDC(nullptr);
    const COLORREF centre =
        GetPixel(screen, (area.left + area.right) / 2, (area.top + area.bottom) / 2);
    ReleaseDC(nullptr, screen);
    fprintf(report, "progress_icon=%ldx%ld %02X%02X%02X\n", area.right - area.left,
            area.bottom - area.top, GetRValue(centre), GetGValue(centre), GetBValue(centre));
    fflush(report);
}

bool SetupEnded() { return WaitForSingleObject(setup.hProcess, 0) == WAIT_OBJECT_0; }

template <typename Test>
bool WaitFor(const char* what, Test test) {
    const DWORD start = GetTickCount();
    while (!test()) {
        if (GetTickCount() - start > STEP_TIMEOUT_MS || SetupEnded()) {
            // One last look: the setup may have ended right after showing it.
            if (test()) return true;
            fprintf(report, "missed=%s\n", what);
            SaveScreen("missed");
            fflush(report);
            return false;
        }
        Sleep(20);
    }
    return true;
}

bool Start(const wchar_t* program) {
    if (started) return true;
    std::wstring command =
        unquoted ? std::wstring(program) : L"\"" + std::wstring(program) + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, startFlags, nullptr,
                        nullptr, &startup, &setup)) {
        LineNumber("start_error", GetLastError());
        return false;
    }
    started = true;
    return true;
}

bool Step(const wchar_t* step, const wchar_t* program) {
    if (wcsncmp(step, L"env:", 4) == 0) {
        std::wstring assignment = step + 4;
        size_t equals = assignment.find(L'=');
        if (equals == std::wstring::npos) return false;
        SetEnvironmentVariableW(assignment.substr(0, equals).c_str(),
                                assignment.substr(equals + 1).c_str());
        return true;
    }
    if (wcsncmp(step, L"args:", 5) == 0) {
        arguments = step + 5;
        return true;
    }
    if (wcscmp(step, L"unquoted") == 0) {
        unquoted = true;
        return true;
    }
    if (wcscmp(step, L"suspended") == 0) {
        startFlags = CREATE_SUSPENDED;
        if (!Start(program)) return false;
        Line("suspended", L"yes");
        const std::wstring resume = reportPath + L".resume";
        const bool go = WaitFor("resume", [&] {
            return GetFileAttributesW(resume.c_str()) != INVALID_FILE_ATTRIBUTES;
        });
        ResumeThread(setup.hThread);
        return go;
    }
    if (!Start(program)) return false;
    if (wcscmp(step, L"start") == 0) return true;
    if (wcscmp(step, L"progress") == 0 || wcscmp(step, L"status") == 0) {
        HWND progress = nullptr;
        if (!WaitFor("progress", [&] { return (progress = FindProgress()) != nullptr; })) {
            return false;
        }
        if (wcscmp(step, L"status") == 0 &&
            !WaitFor("status", [&] { return !Text(GetDlgItem(progress, 101)).empty(); })) {
            return false;
        }
        Sleep(250);  // give the window time to be painted, for the screenshot
        // The icon first: the window may close while the screen is saved.
        ReportIcon(progress);
        SaveScreen(step[0] == L'p' ? "progress" : "status");
        Line("progress_caption", Text(progress));
        Line("progress_status", Text(GetDlgItem(progress, 101)));
        LineNumber("progress_bar",
                   static_cast<unsigned long>(SendMessageW(GetDlgItem(progress, 102), PBM_GETPOS, 0, 0)));
        Line("progress_button", Text(GetDlgItem(progress, IDCANCEL)));
        RECT frame;
        GetWindowRect(progress, &frame);
        fprintf(report, "progress_width=%ld\n", static_cast<long>(frame.right - frame.left));
        fflush(report);
        return true;
    }
    if (wcscmp(step, L"cancel") == 0) {
        HWND progress = nullptr;
        if (!WaitFor("progress", [&] { return (progress = FindProgress()) != nullptr; })) {
            return false;
        }
        HWND button = GetDlgItem(progress, IDCANCEL);
        PostMessageW(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        Line("cancelled", L"yes");
        return true;
    }
    if (wcscmp(step, L"escape") == 0) {
        HWND progress = nullptr;
        if (!WaitFor("progress", [&] { return (progress = FindProgress()) != nullptr; })) {
            return false;
        }
        PostMessageW(progress, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(progress, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        Line("escaped", L"yes");
        return true;
    }
    if (wcscmp(step, L"watch") == 0) {
        unsigned long seen = 0;
        const DWORD start = GetTickCount();
        while (!SetupEnded() && GetTickCount() - start < 20000) {
            HWND found = nullptr;
            EnumWindows(FindAnyWindow, reinterpret_cast<LPARAM>(&found));
            if (found != nullptr) ++seen;
            Sleep(10);
        }
        LineNumber("windows_seen", seen);
        return true;
    }
    if (wcscmp(step, L"box") == 0) {
        messageBox = nullptr;
        if (!WaitFor("box", [&] {
                EnumWindows(FindBox, reinterpret_cast<LPARAM>(&messageBox));
                return messageBox != nullptr;
            })) {
            return false;
        }
        Sleep(200);  // let it finish painting, for the screenshots
        SaveScreen("box");
        Line("box_caption", Text(messageBox));
        Line("box_text", Text(GetDlgItem(messageBox, 0xFFFF)));
        Line("box_over_progress", FindProgress() != nullptr ? L"yes" : L"no");
        fprintf(report, "box_shown=yes\n");
        fflush(report);
        return true;
    }
    if (wcscmp(step, L"ok") == 0) {
        if (messageBox == nullptr) return false;
        PostMessageW(messageBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    }
    if (wcsncmp(step, L"window:", 7) == 0) {
        // A window of any process with this caption (the setup program's own window).
        const wchar_t* caption = step + 7;
        if (!WaitFor("window", [&] {
                HWND window = FindWindowW(nullptr, caption);
                return window != nullptr && IsWindowVisible(window);
            })) {
            return false;
        }
        Sleep(300);
        SaveScreen("window");
        Line("window", caption);
        return true;
    }
    if (wcscmp(step, L"exit") == 0) return true;
    fprintf(report, "unknown_step=%s\n", Utf8(step).c_str());
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: user REPORT SETUP.EXE STEP...\n");
        return 2;
    }
    reportPath = argv[1];
    // Window sizes in the screen's own pixels, whatever the DPI.
    SetProcessDPIAware();
    report = _wfopen(argv[1], L"w");
    if (report == nullptr) return 2;
    bool ok = true;
    for (int i = 3; i < argc && ok; ++i) ok = Step(argv[i], argv[2]);
    if (!Start(argv[2])) return 1;
    if (WaitForSingleObject(setup.hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
        fprintf(report, "exit=timeout\n");
        TerminateProcess(setup.hProcess, 1);
        fclose(report);
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(setup.hProcess, &code);
    LineNumber("exit_tick", GetTickCount());
    LineNumber("exit", code);
    fclose(report);
    return ok ? 0 : 1;
}
