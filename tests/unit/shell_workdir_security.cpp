// The work directory's security: who its access list lets in, elevated or not, and the
// integrity label of an elevated run. Wine enforces neither, so the descriptor the stub
// builds is checked entry by entry, and read back from a directory made with it.

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "shell/shell.h"

namespace {

const DWORD INHERITED = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "?";
    std::string result = text;
    LocalFree(text);
    return result;
}

std::string UserSid() {
    HANDLE token = nullptr;
    DWORD buffer[64];
    DWORD size = sizeof buffer;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
    const BOOL known = GetTokenInformation(token, TokenUser, buffer, size, &size);
    CloseHandle(token);
    return known ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : "";
}

// Each entry as "type flags mask SID", in order.
std::vector<std::string> Entries(PACL acl) {
    std::vector<std::string> entries;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) break;
        // Allowed and label entries share this layout.
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        char head[48];
        wsprintfA(head, "%u %x %lx ", allowed->Header.AceType, allowed->Header.AceFlags,
                  allowed->Mask);
        entries.push_back(head + SidText(const_cast<DWORD*>(&allowed->SidStart)));
    }
    return entries;
}

std::string Allowed(const std::string& sid) {
    char head[48];
    wsprintfA(head, "%u %x %lx ", ACCESS_ALLOWED_ACE_TYPE, INHERITED, FILE_ALL_ACCESS);
    return head + sid;
}

int RunsUnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

const char HIGH_LABEL[] = "17 3 1 S-1-16-12288";  // no-write-up, passed on to all inside

struct Expected {
    int elevated;
    std::vector<std::string> dacl;
    std::vector<std::string> sacl;
};

std::vector<Expected> Cases() {
    return {{0, {Allowed("S-1-5-18"), Allowed("S-1-5-32-544"), Allowed(UserSid())}, {}},
            {1, {Allowed("S-1-5-18"), Allowed("S-1-5-32-544")}, {HIGH_LABEL}}};
}

TEST(WorkDirectorySecurity, GrantsTheUserOnlyWhenNotElevated) {
    for (const Expected& expected : Cases()) {
        SCOPED_TRACE(expected.elevated ? "elevated" : "not elevated");
        WorkDirectorySecurity security;
        ASSERT_TRUE(BuildWorkDirectorySecurity(&security, expected.elevated));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(&security.descriptor, &control, &revision));
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the temporary folder's entries pass in";
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr, sacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(&security.descriptor, &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl != nullptr) << "a null access list lets everyone in";
        EXPECT_EQ(Entries(dacl), expected.dacl);
        ASSERT_TRUE(GetSecurityDescriptorSacl(&security.descriptor, &present, &sacl, &defaulted));
        EXPECT_EQ(present ? Entries(sacl) : std::vector<std::string>(), expected.sacl);
        EXPECT_EQ(security.attributes.lpSecurityDescriptor, &security.descriptor);
    }
}

// A directory can be made with the descriptor, and reports it back (not under Wine).
TEST(WorkDirectorySecurity, ReadsBackFromTheDirectory) {
    for (const Expected& expected : Cases()) {
        SCOPED_TRACE(expected.elevated ? "elevated" : "not elevated");
        wchar_t path[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH - 20, path), 0u);
        lstrcatW(path, expected.elevated ? L"vpx-acl-high" : L"vpx-acl-user");
        RemoveDirectoryW(path);
        WorkDirectorySecurity security;
        ASSERT_TRUE(BuildWorkDirectorySecurity(&security, expected.elevated));
        // An unelevated process may not set a high label on Windows; Wine may allow it.
        if (!CreateDirectoryW(path, &security.attributes)) {
            EXPECT_TRUE(expected.elevated) << "error " << GetLastError();
            continue;
        }
        if (RunsUnderWine()) {
            // Wine keeps no access list for a file: it reports one made from the Unix
            // mode (SYSTEM and the user, whatever was asked for).
            RemoveDirectoryW(path);
            continue;
        }
        HANDLE folder = CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(folder, INVALID_HANDLE_VALUE);
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR read = nullptr;
        const DWORD error = GetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, &dacl, nullptr, &read);
        CloseHandle(folder);
        RemoveDirectoryW(path);
        ASSERT_EQ(error, 0u);
        EXPECT_EQ(Entries(dacl), expected.dacl);
        LocalFree(read);
    }
}

}  // namespace
