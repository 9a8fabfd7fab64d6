// pack: collecting the members from the FILEs and DIRs given, their names and times.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "archive/archive.h"
#include "tools/names.h"
#include "tools/options.h"
#include "tools/pack.h"
#include "tools/terminal.h"

namespace {

const uint64_t MAX_MEMBER_SIZE = 0xFFFFFFFFull;

std::string Describe(const std::string& path, int error) {
    return path + ": " + strerror(error);
}

std::string BaseName(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Adds a file, or the regular files of a directory sorted by name.
std::string AddInput(const std::string& path, std::vector<PackInput>& inputs) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return Describe(path, errno);
    if (S_ISREG(status.st_mode)) {
        PackInput input;
        input.path = path;
        input.display = BaseName(path);
        input.status = status;
        inputs.push_back(std::move(input));
        return "";
    }
    if (!S_ISDIR(status.st_mode)) return path + ": not a regular file or a directory";
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) return Describe(path, errno);
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent* entry = readdir(directory)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        names.push_back(entry->d_name);
    }
    const int readError = errno;
    closedir(directory);
    if (readError != 0) return Describe(path, readError);
    std::sort(names.begin(), names.end());
    const std::string prefix = path.back() == '/' ? path : path + "/";
    for (const std::string& name : names) {
        PackInput input;
        input.path = prefix + name;
        input.display = name;
        if (stat(input.path.c_str(), &input.status) != 0) return Describe(input.path, errno);
        if (S_ISDIR(input.status.st_mode)) {
            return input.path + ": is a folder; members are flat files, so a folder inside " +
                   path + " cannot be packed (move its files up or leave it out)";
        }
        if (!S_ISREG(input.status.st_mode)) return input.path + ": not a regular file";
        inputs.push_back(std::move(input));
    }
    return "";
}

// The name in the archive's code page, checked by the stub's rule.
std::string NameMember(PackInput& input, unsigned codePage) {
    std::string error;
    if (!ConvertMemberName(input.display, codePage, input.name, error)) {
        return input.path + ": " + error;
    }
    if (!IsSafeMemberName(input.name.c_str())) {
        return input.path + ": \"" + input.display +
               "\" cannot be a Windows file name (no \\ / : * ? \" < > |, control characters, "
               "device names like CON, NUL, COM1 or LPT0, or a dot or space at the end)";
    }
    return "";
}

}  // namespace

std::string CollectMembers(const PackOptions& options, std::vector<PackInput>& inputs) {
    for (const std::string& path : options.inputs) {
        const std::string error = AddInput(path, inputs);
        if (!error.empty()) return error;
    }
    if (inputs.empty()) return "no files to pack: the folders given are empty";
    if (options.output != "-") {
        struct stat outputStatus;
        if (stat(options.output.c_str(), &outputStatus) == 0) {
            for (const PackInput& input : inputs) {
                if (input.status.st_dev == outputStatus.st_dev &&
                    input.status.st_ino == outputStatus.st_ino) {
                    return input.path + ": is the output file itself; write OUT elsewhere "
                           "or leave it out of the inputs";
                }
            }
        }
    }
    PlatformSetCodePage(options.codePage == 0 ? 1252 : options.codePage);
    std::vector<std::string> folded;
    bool haveSetup = false;
    for (size_t i = 0; i < inputs.size(); ++i) {
        PackInput& input = inputs[i];
        for (size_t k = 0; k < i; ++k) {
            if (inputs[k].status.st_dev == input.status.st_dev &&
                inputs[k].status.st_ino == input.status.st_ino &&
                inputs[k].display == input.display) {
                return input.path + ": given twice (also as " + inputs[k].path + ")";
            }
        }
        const std::string error = NameMember(input, options.codePage);
        if (!error.empty()) return error;
        const std::string key = FoldMemberName(input.name, options.codePage);
        for (size_t k = 0; k < folded.size(); ++k) {
            if (folded[k] != key) continue;
            if (inputs[k].name == input.name) {
                return input.path + ": the name \"" + input.display + "\" is also the name of " +
                       inputs[k].path + "; a member name can be used once";
            }
            return input.path + ": the name \"" + input.display + "\" differs from \"" +
                   inputs[k].display + "\" (" + inputs[k].path +
                   ") only in case; Windows takes them for one file";
        }
        folded.push_back(key);
        if (key == "SETUP32.EXE" || key == "SETUP.EXE") haveSetup = true;
        if (static_cast<uint64_t>(input.status.st_size) > MAX_MEMBER_SIZE) {
            return input.path + ": larger than 4 GiB, which an archive member cannot hold";
        }
        bool clamped = false;
        input.stamp = options.haveFixedTime
                          ? options.fixedTime
                          : DosStampFromFileTime(input.status.st_mtime, clamped);
        if (clamped && !quietOutput) {
            ProgressDone();
            fprintf(stderr, "vorpanex pack: warning: %s: time outside 1980..2107, clamped\n",
                    input.path.c_str());
        }
    }
    if (!haveSetup && !options.noSetup) {
        return "no SETUP32.EXE or SETUP.EXE among the files: the setup would have nothing to "
               "start (pass --no-setup to pack anyway)";
    }
    return "";
}
