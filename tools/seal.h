// The seal (archive/seal.h) from the tool's side: pack fills it in, list shows it,
// test checks it, and list, test and extract take the names' code page from it.
#ifndef VORPANEX_TOOLS_SEAL_H
#define VORPANEX_TOOLS_SEAL_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "archive/seal.h"

// The offset of the one seal record (either mark) in a stub's bytes; -1 when there is none (a stub
// built before seals, or another program) or more than one.
long FindSeal(const uint8_t* stub, size_t size);

// Whether the stub extracts -lh7- members: its seal has the current mark. Stubs with
// the first mark, or without a seal, extract -lh5- and -lh6- only.
bool StubReadsLh7(const uint8_t* stub, size_t size);

// Records the archive's length, digest and names' code page (0: none) in the stub's
// seal, and renews the stub's PE checksum when it has one. False when the stub has no
// seal record.
bool WriteSeal(std::vector<uint8_t>& stub, uint32_t archiveLength, uint32_t codePage,
               const uint8_t* digest);

// A setup's seal as read from FILE. found: the stub has a seal record; sealed: it
// records an archive (length not 0).
struct SetupSeal {
    bool found = false;
    bool sealed = false;
    bool readsLh7 = false;  // the stub extracts -lh7- (StubReadsLh7)
    ArchiveSeal record;
};
SetupSeal ReadSetupSeal(const char* path);

// The code page for reading FILE's names: the one given with --codepage, else the one
// its seal records (932 or 1252), else 0.
unsigned NamesCodePage(unsigned given, const SetupSeal& seal);

#endif
