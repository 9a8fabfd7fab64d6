// pack: collecting the members from the FILEs and DIRs given, their names, paths and
// times.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <utility>

#include "archive/archive.h"
#include "archive/names.h"
#include "tools/options.h"
#include "tools/pack.h"
#include "tools/terminal.h"

namespace {

const uint64_t MAX_MEMBER_SIZE = 0xFFFFFFFFull;

// What --exclude-vcs leaves out: the files and folders of version control systems,
// the list GNU tar uses.
const char* const VCS_NAMES[] = {
    "CVS",      ".cvsignore",  "RCS",         "SCCS",       ".git",   ".gitignore",
    ".gitattributes", ".gitmodules", ".arch-ids", "{arch}",  "=RELEASE-ID", "=meta-update",
    "=update",  ".bzr",        ".bzrignore",  ".bzrtags",   ".hg",    ".hgignore",
    ".hgtags",  "_darcs",      ".svn"};

std::string Describe(const std::string& path, int error) {
    return path + ": " + strerror(error);
}

std::string BaseName(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string Join(const std::vector<std::string>& parts, const std::string& last, char between) {
    std::string path;
    for (const std::string& part : parts) path += part + between;
    if (last.empty() && !path.empty()) path.pop_back();
    return path + last;
}

typedef std::vector<std::pair<uint64_t, uint64_t>> FolderChain;

// What the walk of one DIR needs besides the folder in hand.
struct TreeWalk {
    const PackOptions* options;
    std::string given;  // the DIR as given
    std::string root;   // the DIR with its links resolved
};

// Whether the path inside the tree (folders and name, '/' between) is excluded: a
// pattern matches the whole path or any tail of it that starts after a '/', with '*'
// matching '/' too, as tar's --exclude does; a pattern ending in '/' only folders.
bool IsExcluded(const PackOptions& options, const std::string& path, bool isFolder) {
    const size_t nameStart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    if (options.excludeVcs) {
        for (const char* name : VCS_NAMES) {
            if (path.compare(nameStart, std::string::npos, name) == 0) return true;
        }
    }
    for (std::string pattern : options.excludes) {
        if (pattern.size() > 1 && pattern.back() == '/') {
            if (!isFolder) continue;
            while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
        }
        for (size_t start = 0; start != std::string::npos;) {
            if (sys::MatchPattern(pattern.c_str(), path.c_str() + start)) return true;
            const size_t slash = path.find('/', start);
            start = slash == std::string::npos ? slash : slash + 1;
        }
    }
    return false;
}

// Whether path lies inside (or is) the folder root; both are resolved paths.
bool IsInside(const std::string& path, const std::string& root) {
    if (root == "/") return true;
    return path.compare(0, root.size(), root) == 0 &&
           (path.size() == root.size() || path[root.size()] == '/');
}

// The status of an entry of the tree: a symbolic link is followed when its target lies
// inside the tree (or with --follow-links); one that leads outside, or nowhere, is
// refused by its name. "" or the error.
std::string EntryStatus(const TreeWalk& walk, const std::string& path, FileStatus& status) {
    if (sys::LinkStatus(path.c_str(), &status) != 0) return Describe(path, errno);
    if (!S_ISLNK(status.st_mode)) return "";
    std::string written;
    if (!sys::ReadLink(path.c_str(), written)) written = "?";
    std::string resolved;
    if (!sys::RealPath(path.c_str(), resolved) || sys::Status(path.c_str(), &status) != 0) {
        return path + ": a symbolic link to " + written + ", which does not exist; not "
               "packed (remove the link, or leave it out with --exclude)";
    }
    const bool inside = IsInside(resolved, walk.root);
    if (!inside && !walk.options->followLinks) {
        return path + ": a symbolic link to " + written + ", outside " + walk.given +
               "; not packed (--follow-links packs what links point to, --exclude leaves "
               "the link out)";
    }
    return "";
}

// Adds the files of a folder, sorted by name, then its subfolders, sorted by name,
// each the same way; an empty folder becomes a folder entry. folders: the UTF-8 path
// of this folder inside the DIR given; chain: the folders above, to catch a loop
// through a link.
std::string AddFolder(const TreeWalk& walk, const std::string& diskPath,
                      const std::vector<std::string>& folders, bool flat, FolderChain& chain,
                      std::vector<PackInput>& inputs) {
    std::vector<std::string> names;
    if (!sys::ListFolder(diskPath.c_str(), names)) return Describe(diskPath, errno);
    const std::string inside = Join(folders, "", '/');
    std::sort(names.begin(), names.end());
    const std::string prefix = diskPath.back() == '/' ? diskPath : diskPath + "/";
    // The entries that are packed, with what they are (links resolved).
    std::vector<std::pair<std::string, FileStatus>> entries;
    for (const std::string& name : names) {
        const std::string path = inside + (inside.empty() ? "" : "/") + name;
        if (IsExcluded(*walk.options, path, false)) continue;
        FileStatus status;
        const std::string error = EntryStatus(walk, prefix + name, status);
        if (!error.empty()) return error;
        if (S_ISDIR(status.st_mode) && IsExcluded(*walk.options, path, true)) continue;
        entries.emplace_back(name, status);
    }
    if (entries.empty() && !folders.empty()) {
        PackInput input;
        input.path = diskPath;
        input.folders = folders;
        input.isFolder = true;
        if (sys::Status(diskPath.c_str(), &input.status) != 0) return Describe(diskPath, errno);
        inputs.push_back(std::move(input));
        return "";
    }
    std::vector<std::pair<std::string, FileStatus>> subfolders;
    for (const auto& entry : entries) {
        PackInput input;
        input.path = prefix + entry.first;
        input.display = entry.first;
        input.folders = folders;
        input.status = entry.second;
        if (S_ISDIR(input.status.st_mode)) {
            if (flat) {
                return input.path + ": is a folder; with --flat members are the files "
                       "directly inside " + diskPath + " (move its files up or leave it out)";
            }
            subfolders.push_back(entry);
            continue;
        }
        if (!S_ISREG(input.status.st_mode)) return input.path + ": not a regular file";
        inputs.push_back(std::move(input));
    }
    for (const auto& subfolder : subfolders) {
        const std::pair<uint64_t, uint64_t> identity(subfolder.second.st_dev,
                                                     subfolder.second.st_ino);
        const std::string path = prefix + subfolder.first;
        if (std::find(chain.begin(), chain.end(), identity) != chain.end()) {
            return path + ": a link back to a folder above it; the tree would never end";
        }
        std::vector<std::string> inner = folders;
        inner.push_back(subfolder.first);
        chain.push_back(identity);
        const std::string error = AddFolder(walk, path, inner, flat, chain, inputs);
        chain.pop_back();
        if (!error.empty()) return error;
    }
    return "";
}

// Adds a FILE as itself, or a DIR's tree. A FILE or DIR named on the command line is
// taken as what it leads to, a link included: the user named it.
std::string AddInput(const std::string& path, const PackOptions& options,
                     std::vector<PackInput>& inputs) {
    FileStatus status;
    if (sys::Status(path.c_str(), &status) != 0) return Describe(path, errno);
    if (S_ISREG(status.st_mode)) {
        PackInput input;
        input.path = path;
        input.display = BaseName(path);
        input.status = status;
        if (!IsExcluded(options, input.display, false)) inputs.push_back(std::move(input));
        return "";
    }
    if (!S_ISDIR(status.st_mode)) return path + ": not a regular file or a directory";
    TreeWalk walk;
    walk.options = &options;
    walk.given = path;
    if (!sys::RealPath(path.c_str(), walk.root)) return Describe(path, errno);
    FolderChain chain = {{status.st_dev, status.st_ino}};
    return AddFolder(walk, path, {}, options.flat, chain, inputs);
}

const char NAME_RULE[] =
    "cannot be a Windows file or folder name (no \\ / : * ? \" < > |, control characters, "
    "device names like CON, NUL, COM1 or LPT0, or a dot or space at the end)";

// The name and folders in the archive's code page, each checked by the stub's rule,
// and the whole path within the budget.
std::string NameMember(PackInput& input, unsigned codePage) {
    std::string error;
    std::vector<std::string> folders;
    for (const std::string& folder : input.folders) {
        std::string converted;
        if (!ConvertMemberName(folder, codePage, converted, error)) {
            return input.path + ": folder \"" + folder + "\": " + error;
        }
        if (!IsSafeMemberName(converted.c_str())) {
            return input.path + ": folder \"" + folder + "\" " + NAME_RULE;
        }
        folders.push_back(converted);
    }
    input.folderField = FolderField(folders);
    if (!input.isFolder) {
        if (!ConvertMemberName(input.display, codePage, input.name, error)) {
            return input.path + ": " + error;
        }
        if (!IsSafeMemberName(input.name.c_str())) {
            return input.path + ": \"" + input.display + "\" " + NAME_RULE;
        }
    }
    input.archivePath = Join(folders, input.name, '/');
    if (input.archivePath.size() > MaxMemberPath()) {
        char limit[160];
        snprintf(limit, sizeof limit,
                 ": the path in the archive is %zu bytes; at most %zu fit below a setup's work "
                 "directory (Windows paths end at %u characters)",
                 input.archivePath.size(), MaxMemberPath(), static_cast<unsigned>(MAX_PATH));
        return input.path + " (" + input.DisplayPath() + ")" + limit;
    }
    return "";
}

// Two members that Windows would take for one file, a file where a folder must be, or a
// folder named like the setup program (the stub starts only a file), judged by the rule
// test applies too. Keys are the paths as Windows compares them: linear time.
std::string CheckUnique(const std::vector<PackInput>& inputs, const PackOptions& options) {
    std::vector<std::string> paths;
    std::vector<bool> isFolder;
    for (const PackInput& input : inputs) {
        paths.push_back(input.archivePath);
        isFolder.push_back(input.isFolder);
    }
    const WindowsNames names = JudgeWindowsNames(paths, isFolder, options.codePage);
    if (!options.archiveOnly) {
        for (const auto& folder : names.folders) {
            if (folder.first.find('/') != std::string::npos || !IsSetupProgramKey(folder.first)) {
                continue;
            }
            const PackInput& inside = inputs[folder.second];
            const std::string name = inside.folders.empty() ? inside.display : inside.folders[0];
            return inside.path + ": the folder \"" + name + "\" has the name of the setup "
                   "program, which the setup can only start as a file (rename the folder)";
        }
    }
    // The first fault in the order of the members, as the walk met them.
    const size_t clash = names.sameFile.empty() ? SIZE_MAX : names.sameFile[0].second;
    if (names.fileWhereFolder != SIZE_MAX && names.fileWhereFolder <= clash) {
        const PackInput& input = inputs[names.fileWhereFolder];
        return input.path + ": \"" + input.DisplayPath() + "\" is also the name of a "
               "folder in the archive (Windows does not tell case apart)";
    }
    if (clash == SIZE_MAX) return "";
    const PackInput& input = inputs[clash];
    const PackInput& other = inputs[names.sameFile[0].first];
    if (other.status.st_dev == input.status.st_dev && other.status.st_ino == input.status.st_ino &&
        other.archivePath == input.archivePath) {
        return input.path + ": given twice (also as " + other.path + ")";
    }
    if (other.archivePath == input.archivePath) {
        return input.path + ": the name \"" + input.DisplayPath() + "\" is also the name of " +
               other.path + "; a member name can be used once";
    }
    return input.path + ": the name \"" + input.DisplayPath() + "\" differs from \"" +
           other.DisplayPath() + "\" (" + other.path +
           ") only in case; Windows takes them for one file";
}

}  // namespace

std::string PackInput::DisplayPath() const { return Join(folders, display, '/'); }

size_t MaxMemberPath() { return MAX_MEMBER_PATH; }

namespace {

std::string CollectAndCheck(const PackOptions& options, std::vector<PackInput>& inputs);

}  // namespace

// The messages name files found on disk: their control characters are escaped.
std::string CollectMembers(const PackOptions& options, std::vector<PackInput>& inputs) {
    return EscapeForTerminal(CollectAndCheck(options, inputs));
}

namespace {

std::string CollectAndCheck(const PackOptions& options, std::vector<PackInput>& inputs) {
    for (const std::string& path : options.inputs) {
        const std::string error = AddInput(path, options, inputs);
        if (!error.empty()) return error;
    }
    if (inputs.empty()) {
        return options.excludes.empty() && !options.excludeVcs
                   ? "no files to pack: the folders given are empty"
                   : "no files to pack: the folders given are empty, or everything in them "
                     "is excluded";
    }
    if (options.output != "-") {
        FileStatus outputStatus;
        if (sys::Status(options.output.c_str(), &outputStatus) == 0) {
            // Found inside a DIR (written there by an earlier run), OUT is left out;
            // given as a FILE, it is a mistake.
            for (size_t k = inputs.size(); k-- > 0;) {
                const PackInput& input = inputs[k];
                if (input.isFolder || input.status.st_dev != outputStatus.st_dev ||
                    input.status.st_ino != outputStatus.st_ino) {
                    continue;
                }
                if (std::find(options.inputs.begin(), options.inputs.end(), input.path) !=
                    options.inputs.end()) {
                    return input.path + ": is the output file itself; write OUT elsewhere "
                           "or leave it out of the inputs";
                }
                if (!quietOutput) {
                    fprintf(stderr, "vorpanex pack: %s: left out: it is the output file\n",
                            input.path.c_str());
                }
                inputs.erase(inputs.begin() + static_cast<long>(k));
            }
            if (inputs.empty()) return "no files to pack but the output file itself";
        }
    }
    PlatformSetCodePage(options.codePage == 0 ? 1252 : options.codePage);
    bool haveSetup = false;
    for (PackInput& input : inputs) {
        const std::string error = NameMember(input, options.codePage);
        if (!error.empty()) return error;
        if (!input.isFolder &&
            IsSetupProgramKey(FoldMemberName(input.archivePath, options.codePage))) {
            haveSetup = true;
        }
        if (static_cast<uint64_t>(input.status.st_size) > MAX_MEMBER_SIZE && !input.isFolder) {
            return input.path + ": larger than 4 GiB, which an archive member cannot hold";
        }
        bool clamped = false;
        input.stamp = options.haveFixedTime
                          ? options.fixedTime
                          : DosStampFromFileTime(input.status.st_mtime, clamped);
        if (clamped && !quietOutput) {
            ProgressDone();
            fprintf(stderr, "vorpanex pack: warning: %s: time outside 1980..2107, clamped\n",
                    EscapeForTerminal(input.path).c_str());
        }
    }
    const std::string error = CheckUnique(inputs, options);
    if (!error.empty()) return error;
    if (!haveSetup && !options.noSetup) {
        return "no SETUP32.EXE or SETUP.EXE at the top of the archive: the setup would have "
               "nothing to start (pass --no-setup to pack anyway)";
    }
    return "";
}

}  // namespace
