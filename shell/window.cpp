// The progress window: its dialog procedure, the one-message pump, centring, the
// string loader, and the window's side of the extraction's user interface.
#include "extract/ui.h"
#include "shell/shell.h"

#include <commctrl.h>

volatile int CancelRequested;
int silentRun;

namespace {

char loadTextBuffer[LOAD_TEXT_SIZE] ZERO_FILLED;
// The progress window while it exists: its keys (Esc, Tab) go through the dialog manager.
HWND progressWindow;

// Dispatches one message taken from the queue; 0 for one the dialog manager handled.
int Dispatch(MSG* message) {
    if (progressWindow != nullptr && IsDialogMessageA(progressWindow, message)) return 0;
    TranslateMessage(message);
    return static_cast<int>(DispatchMessageA(message));
}

}  // namespace

int PumpOneMessage() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return 0;
    return Dispatch(&message);
}

void DrainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) Dispatch(&message);
}

void ShowStatusLine(HWND window, const char* text) {
    SetWindowTextA(GetDlgItem(window, IDC_STATUS_LINE), text);
}

void ShowProgress(HWND window, unsigned position) {
    SendMessageA(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_SETPOS, position, 0);
}

void CentreWindow(HWND window, HWND reference) {
    RECT own;
    RECT outer;
    GetWindowRect(window, &own);
    GetWindowRect(reference, &outer);
    const LONG x = outer.left + ((outer.right - outer.left) - (own.right - own.left)) / 2;
    const LONG y = outer.top + ((outer.bottom - outer.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

const char* LoadText(HINSTANCE instance, UINT id) {
    loadTextBuffer[0] = 0;
    LoadStringA(instance, id, loadTextBuffer, sizeof loadTextBuffer);
    return loadTextBuffer;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        progressWindow = window;
        CentreWindow(window, GetDesktopWindow());
        SendMessageA(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_SETPOS, 0, 0);
        return TRUE;
    case WM_DESTROY:
        progressWindow = nullptr;
        return FALSE;
    case WM_COMMAND:
        // Cancel, or Esc through the dialog manager. The window stays open; the
        // extraction stops at its next look at the flag.
        if (LOWORD(wParam) == IDCANCEL) {
            CancelRequested = 1;
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
