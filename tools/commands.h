// The verbs of the vorpanex tool. Each takes its own argv (argv[0] is the verb) and
// returns the process exit status.
#ifndef VORPANEX_TOOLS_COMMANDS_H
#define VORPANEX_TOOLS_COMMANDS_H

// Exit statuses shared by every verb.
const int EXIT_OK = 0;
const int EXIT_BAD_ARCHIVE = 1;  // bad archive, or any other failure of the work
const int EXIT_USAGE = 2;
const int EXIT_CANCELLED = 130;  // Ctrl-C

int ListCommand(int argc, char** argv);
int TestCommand(int argc, char** argv);
int ExtractCommand(int argc, char** argv);
int PackCommand(int argc, char** argv);
int VersionCommand();  // --version

#include <stddef.h>
#include <string>
// The file version ("1.0.0.5") in a Windows executable's version resource, or "".
std::string StubFileVersion(const unsigned char* image, size_t size);

// The stub that pack writes by default; embeddedStubSize is 0 when the tool was built
// without one.
extern const unsigned char embeddedStub[];
extern const unsigned embeddedStubSize;

#endif
