// Temporary files and directories for the core tests, on the host and under Wine.
#include "support/test_files.h"

#include "archive/sha256.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
int tempCounter;
}

std::string JoinTestPath(const std::string& directory, const std::string& name) {
#ifdef _WIN32
    return directory + "\\" + name;
#else
    return directory + "/" + name;
#endif
}

#ifdef _WIN32

std::string MakeTempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    for (;;) {
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%svxtest-%lu-%d", base, GetCurrentProcessId(), ++tempCounter);
        if (CreateDirectoryA(name, nullptr)) return name;
    }
}

void RemoveTempDir(const std::string& directory) {
    for (const std::string& name : ListDirectory(directory)) {
        const std::string path = JoinTestPath(directory, name);
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveTempDir(path);
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    RemoveDirectoryA(directory.c_str());
}

std::vector<std::string> ListDirectory(const std::string& directory) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinTestPath(directory, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
                names.push_back(found.cFileName);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int64_t FileWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

void DeleteTestFile(const std::string& path) { DeleteFileA(path.c_str()); }

#else

std::string MakeTempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vxtest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (mkdtemp(buffer.data()) == nullptr) return std::string();
    ++tempCounter;
    return buffer.data();
}

void RemoveTempDir(const std::string& directory) {
    for (const std::string& name : ListDirectory(directory)) {
        const std::string path = JoinTestPath(directory, name);
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            RemoveTempDir(path);
        } else {
            unlink(path.c_str());
        }
    }
    rmdir(directory.c_str());
}

std::vector<std::string> ListDirectory(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir != nullptr) {
        while (struct dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
                names.push_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int64_t FileWriteTime(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_mtime);
}

void DeleteTestFile(const std::string& path) { unlink(path.c_str()); }

#endif

std::string WriteTempFile(const Bytes& bytes) {
    static std::string directory;
    if (directory.empty()) directory = MakeTempDir();
    char name[64];
    snprintf(name, sizeof name, "archive-%d.bin", ++tempCounter);
    const std::string path = JoinTestPath(directory, name);
    WriteFileBytes(path, bytes);
    return path;
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), file);
    return fclose(file) == 0 && written == bytes.size();
}

bool ReadFileBytes(const std::string& path, Bytes* bytes) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
    fclose(file);
    return true;
}

bool FileExists(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

std::string Sha256Hex(const Bytes& bytes) {
    Sha256 hash;
    Sha256Begin(&hash);
    Sha256Add(&hash, bytes.data(), static_cast<uint32_t>(bytes.size()));
    uint8_t digest[SHA256_SIZE];
    Sha256End(&hash, digest);
    char text[2 * SHA256_SIZE + 1];
    for (unsigned i = 0; i < SHA256_SIZE; ++i) snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}
