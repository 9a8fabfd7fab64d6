// The pack verb in steps: options, collecting the members, compressing them, writing
// the setup. PackCommand (commands.h) runs them in this order.
#ifndef VORPANEX_TOOLS_PACK_H
#define VORPANEX_TOOLS_PACK_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/format.h"
#include "encode/encoder.h"
#include "pe/brand.h"
#include "platform/system.h"
#include "tools/spill_buffer.h"
#include "tools/times.h"

struct PackOptions {
    std::string output;          // "-" for standard output
    std::string stubPath;        // "" for the built-in stub
    char method = METHOD_LH7;
    bool methodGiven = false;    // -m was given (else the default, which a stub may lower)
    bool best = false;
    bool archiveOnly = false;
    bool noSetup = false;
    bool verbose = false;
    bool flat = false;           // refuse folders inside a DIR
    std::vector<std::string> excludes;  // --exclude patterns
    bool excludeVcs = false;     // --exclude-vcs
    bool followLinks = false;    // pack what every link leads to, inside the tree or not
    unsigned codePage = 0;       // 0: ASCII names only
    unsigned jobs = 0;           // 0: the number of CPUs
    bool haveFixedTime = false;  // --mtime or SOURCE_DATE_EPOCH
    DosStamp fixedTime;
    Branding branding;           // --icon, --title, --version-*, --execution-level
    std::vector<std::string> inputs;
};

// Fills options from argv (argv[0] is "pack"); 0, or the exit status to return at once
// (after --help, or a usage error).
int ParsePackOptions(int argc, char** argv, PackOptions& options, bool& done);

// One member to be: the file on disk, its name in the archive, and once compressed,
// its packed form.
struct PackInput {
    std::string path;          // as found on disk
    std::string display;       // the UTF-8 file name (empty for a folder entry)
    std::vector<std::string> folders;  // UTF-8 folder components above it, outermost first
    bool isFolder = false;     // an empty folder, written as a "-lhd-" entry
    std::string name;          // the member name in the archive's code page
    std::string folderField;   // the folders in the archive's code page, each + 0xFF
    std::string archivePath;   // folders and name in the archive's code page, '/' between
    FileStatus status;
    DosStamp stamp;
    PackedMember packed;       // method, size and CRC-16; the bytes are in spill, or
                               // for a stored member in the file itself
    std::shared_ptr<SpillBuffer> spill;
    uint32_t packedSize = 0;   // the data's bytes, extended headers not included

    // The UTF-8 path in the archive, '/' between components, for messages and listings.
    std::string DisplayPath() const;
};

// The longest member path (folders and name, in the archive's code page) that pack
// writes: MAX_MEMBER_PATH, the stub's path limit with room for a work directory of
// WORK_DIRECTORY_BUDGET characters.
size_t MaxMemberPath();

// Finds the members (a FILE as itself; a DIR as its files sorted by name, then its
// subfolders sorted by name, each the same way; empty folders as folder entries),
// leaving out what --exclude and --exclude-vcs name; a link inside a DIR is packed as
// its target when that lies inside the DIR (always with --follow-links) and refused
// otherwise. Converts and checks names and paths, and sets times. "" or an error.
std::string CollectMembers(const PackOptions& options, std::vector<PackInput>& inputs);

// Reads and compresses every member, several at once, with a progress bar, each as a
// stream: memory stays bounded whatever the members' sizes. "" or an error text.
std::string CompressMembers(const PackOptions& options, std::vector<PackInput>& inputs,
                            double& seconds, unsigned& workers);

// -lh7- needs a stub that extracts it: with a --stub from before -lh7-, the default
// method becomes -lh6- (and pack says so) and an explicit -m lh7 is refused.
std::string FitMethodToStub(PackOptions& options, const std::vector<uint8_t>& stub);

// The stub to put in front: --stub FILE checked to be a Windows executable of at most
// ARCHIVE_OFFSET bytes, or the built-in one. "" or an error text.
std::string LoadStub(const PackOptions& options, std::vector<uint8_t>& stub);

// Applies --icon, --title, --version-info, --version-language and --execution-level to
// the loaded stub (nothing without them) and says which icon images it took. "" or an
// error text; a stub that would outgrow ARCHIVE_OFFSET bytes is one.
std::string BrandLoadedStub(const PackOptions& options, std::vector<uint8_t>& stub);

// The bytes that WriteSetup will write.
uint64_t SetupSize(const PackOptions& options, const std::vector<PackInput>& inputs);

// Refuses a setup larger than the stub can read (a bare archive has no such limit).
// "" or an error text with the limit.
std::string CheckSetupSize(const PackOptions& options, uint64_t size);

// Writes stub, padding, members and end marker to OUT through a temporary file that
// replaces OUT only when complete. "" or an error text.
std::string WriteSetup(const PackOptions& options, const std::vector<uint8_t>& stub,
                       const std::vector<PackInput>& inputs);

// Hands the member's packed bytes to sink in order (a false from it stops): from its
// spill buffer, or for a stored member from its file, which must still have the size
// and CRC-16 that its header gives. "" or an error text.
typedef std::function<bool(const uint8_t* data, size_t size)> ByteSink;
std::string ReadPackedData(const PackInput& input, const ByteSink& sink);

// A whole file into memory; false with a message naming the path.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string& error);

#endif
