// What test and extract keep about the FILE in hand, the step after its walk that the
// tests call directly, and what the terminal's side of the extraction (extract_ui.cpp)
// calls.
#ifndef VORPANEX_TOOLS_EXTRACT_VERBS_H
#define VORPANEX_TOOLS_EXTRACT_VERBS_H

#include <stdint.h>
#include <time.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"
#include "platform/system.h"
#include "tools/commands.h"

namespace extraction {

// What the extraction loop showed about each member, for the per-member report.
struct MemberReport {
    std::string path;  // as stored: folders and name, '/' between
    std::string name;  // for the terminal
    uint64_t size = 0;
    double started = 0;
    bool folder = false;  // a -lhd- entry
    std::string temporary;  // extract: the file being written, beside its target
    std::string target;     // extract: where it goes, relative to DIR
    bool modeKnown = false;  // the header's Unix permission bits, and its time, which
    mode_t mode = 0;         // a folder entry gets once its members are written
    bool timeKnown = false;
    time_t time = 0;
    bool placed = false;
    bool failed = false;  // named on standard error; nothing put in place
};

// What extract does with a file that already exists at a member's name.
enum ExistingFiles { REPLACE_EXISTING, KEEP_EXISTING, SKIP_EXISTING };

struct ExtractOptions {
    bool extracting = false;
    bool verbose = false;
    bool noSetup = false;
    bool toStdout = false;  // extract -p
    ExistingFiles existing = REPLACE_EXISTING;
    unsigned codePage = 0;
    std::string directory = ".";
    std::vector<std::string> files;
    std::vector<std::string> patterns;  // member names and patterns after the FILEs
};

struct RunReport {
    const ExtractOptions* options = nullptr;
    unsigned codePage = 0;  // --codepage, else the one the setup records, else 0
    std::vector<MemberReport> members;
    uint32_t reported = 0;  // members already printed (and, extracting, put in place)
    bool extracting = false;  // the working directory is DIR while the core runs
    uint32_t notPlaced = 0;  // members that came out whole but could not be put in place
    std::string createError;  // why the last member's file could not be made, if known
    mode_t umask = 022;
    std::vector<MemberReport> everyMember;  // test of a setup: each member walked, chosen or not
    std::unordered_set<std::string> placed;  // extract: targets written by this run
    std::string privateFolder;  // extract: the core's work directory, relative to DIR
    const char* verb = "";
    const char* shownFile = "";  // the FILE, for messages
    const char* file = "";       // the FILE as given
    bool setup = false;          // FILE is a setup (its archive at ARCHIVE_OFFSET)
    uint32_t walked = 0;     // members the walk has put in hand
    size_t current = 0;      // the index the member in hand's report gets
    uint32_t failed = 0;     // members that failed and were walked past
    uint32_t skipped = 0;    // members left out by --skip-old-files
    bool inHand = false;     // the member in hand was chosen and has not failed yet
    uint32_t extractedBefore = 0;  // membersExtracted when it was put in hand
};

// The run over the FILE in hand.
extern RunReport run;

// What the walk over one FILE left for the steps after it.
struct WalkOutcome {
    int result = 0;           // the core's: 1 when the walk reached the archive's end
    int status = EXIT_OK;     // the exit status so far
    uint32_t completed = 0;   // members that came out whole and were put in place
    uint64_t archiveSize = 0;
    uint64_t consumed = 0;    // bytes of the archive the walk read
    double seconds = 0;
};

// test's judgement of the archive as Windows and the stub will meet it (offset 0: a
// bare archive); false when the FILE fails, each problem named on standard error.
bool CheckAsWindows(const char* path, const ExtractOptions& options, long offset,
                    const WalkOutcome& walk);

// The core's requests, as test and extract answer them on the terminal.

// A new member is in hand (the core's status line): its report starts and the
// progress bar names it.
void StartMemberReport();

// The progress bar's position for the member in hand, a percentage of the archive.
void ShowMemberProgress(unsigned position);

// The member's file: while extracting, a private file beside its target in DIR (name
// is the member's path); for test, path itself. HFILE_ERROR when it cannot be made.
HFILE CreateExtractedFile(const char* path, const char* name);

}  // namespace extraction

#endif
