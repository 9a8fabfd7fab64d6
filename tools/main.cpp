// The vorpanex command line: list, test, extract and pack setups and bare archives.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "archive/format.h"
#include "platform/system.h"
#include "tools/commands.h"
#include "tools/times.h"

namespace {

const char MAIN_HELP[] =
    "usage: vorpanex VERB [options] ...\n"
    "       vorpanex --version\n"
    "\n"
    "Builds and checks self-extracting setups: a " ARCHIVE_OFFSET_TEXT
    "-byte Windows stub followed by\n"
    "an LHA archive of the setup files.\n"
    "\n"
    "verbs:\n"
    "  pack     build a setup (or a bare archive) from files and folders\n"
    "  list     show the members of setups or archives\n"
    "  test     decode every member and check its size and CRC-16; writes nothing\n"
    "  extract  unpack every member into a directory\n"
    "\n"
    "options:\n"
    "  -V, --version  the tool's version, and the built-in stub's file version and\n"
    "                 SHA-256\n"
    "  -h, --help     this text\n"
    "\n"
    "`vorpanex VERB --help` describes each verb. Options follow GNU conventions:\n"
    "--name=VALUE or --name VALUE, -xVALUE or -x VALUE, short flags combined (-qv),\n"
    "`--` ends the options.\n"
    "\n"
    "exit status: 0 success; 1 bad archive or failed work (also a failed write to\n"
    "standard output); 2 usage error; 130 interrupted (Ctrl-C)\n";

int Dispatch(int argc, char** argv) {
    if (argc < 2) {
        fputs(MAIN_HELP, stderr);
        return EXIT_USAGE;
    }
    const char* verb = argv[1];
    if (strcmp(verb, "--help") == 0 || strcmp(verb, "-h") == 0) {
        fputs(MAIN_HELP, stdout);
        return EXIT_OK;
    }
    if (strcmp(verb, "--version") == 0 || strcmp(verb, "-V") == 0) return VersionCommand();
    if (strcmp(verb, "list") == 0) return ListCommand(argc - 1, argv + 1);
    if (strcmp(verb, "test") == 0) return TestCommand(argc - 1, argv + 1);
    if (strcmp(verb, "extract") == 0) return ExtractCommand(argc - 1, argv + 1);
    if (strcmp(verb, "pack") == 0) return PackCommand(argc - 1, argv + 1);
    fprintf(stderr, "vorpanex: unknown verb '%s'\n\n%s", verb, MAIN_HELP);
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (`| head`) makes writes fail with EPIPE instead of killing
    // the process mid-work: the work finishes or cleans up, and the failed write is
    // reported below.
    sys::IgnoreBrokenPipe();
    // On Windows the arguments come as UTF-16 and become UTF-8 here; the console shows
    // the UTF-8 that the tool writes.
    sys::Utf8Arguments(argc, argv);
    sys::PrepareConsole();
    UseSystemTimeZoneUnlessPosixTz();
    const int status = Dispatch(argc, argv);
    // Output that could not be written (a full disk, a closed pipe) is a failure, not
    // a listing silently cut short.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "vorpanex: cannot write to standard output: %s\n", strerror(errno));
        return status == EXIT_OK ? EXIT_BAD_ARCHIVE : status;
    }
    return status;
}
