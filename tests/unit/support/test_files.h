// Temporary files and directories for the core tests, on the host and under Wine.
#ifndef VORPANEX_TESTS_TEST_FILES_H
#define VORPANEX_TESTS_TEST_FILES_H

#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A fresh, empty directory under the system's temporary directory.
std::string MakeTempDir();
// Removes a directory made by MakeTempDir with everything in it.
void RemoveTempDir(const std::string& directory);
// Writes bytes to a new temporary file and returns its path.
std::string WriteTempFile(const Bytes& bytes);
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
bool ReadFileBytes(const std::string& path, Bytes* bytes);
bool FileExists(const std::string& path);
void DeleteTestFile(const std::string& path);
// Names of the entries of a directory, sorted, without "." and "..".
std::vector<std::string> ListDirectory(const std::string& directory);
// The file's last-write time as seconds since 1970 (UTC).
int64_t FileWriteTime(const std::string& path);
std::string JoinTestPath(const std::string& directory, const std::string& name);

// The SHA-256 of bytes as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const Bytes& bytes);

#endif
