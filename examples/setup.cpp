// The demo's setup program: a window that shows the directory it was started from and
// the current directory, closes itself after a few seconds and exits with code 0.
#include <windows.h>

#include <stdio.h>

namespace {

const char CAPTION[] = "Vorpanex demo setup";
const UINT_PTR CLOSE_TIMER = 1;
const UINT SHOW_MILLISECONDS = 5000;
char message[3 * MAX_PATH + 200];

LRESULT CALLBACK WindowProc(HWND window, UINT code, WPARAM wParam, LPARAM lParam) {
    switch (code) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        InflateRect(&area, -16, -16);
        SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, message, -1, &area, DT_LEFT | DT_WORDBREAK);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, code, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    char* slash = strrchr(module, '\\');
    if (slash != nullptr) *slash = 0;
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    snprintf(message, sizeof message,
             "This is the setup program of the Vorpanex demo.\n\n"
             "Started from:\n%s\n\nCurrent directory:\n%s\n\n"
             "It closes by itself in %u seconds; then the work directory is removed.",
             module, current, SHOW_MILLISECONDS / 1000);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "VorpanexDemoSetup";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("VorpanexDemoSetup", CAPTION,
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                CW_USEDEFAULT, 520, 260, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, show == 0 ? SW_SHOW : show);
    SetTimer(window, CLOSE_TIMER, SHOW_MILLISECONDS, nullptr);
    MSG queued;
    while (GetMessageA(&queued, nullptr, 0, 0) > 0) {
        TranslateMessage(&queued);
        DispatchMessageA(&queued);
    }
    return 0;
}
