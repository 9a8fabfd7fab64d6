// A planted DLL for the stub's end-to-end tests: copied beside a setup under the names
// of DLLs the stub uses. When any process loads it, it leaves a file named after
// itself in the records directory (VORPANEX_E2E_RECORDS), so the test sees it ran.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH];
    wchar_t self[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"VORPANEX_E2E_RECORDS", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 80) return TRUE;
    GetModuleFileNameW(instance, self, MAX_PATH);
    const wchar_t* name = self;
    for (const wchar_t* p = self; *p != 0; ++p) {
        if (*p == L'\\' || *p == L'/') name = p + 1;
    }
    lstrcatW(path, L"\\planted-");
    lstrcpynW(path + lstrlenW(path), name, 64);
    lstrcatW(path, L".loaded");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
