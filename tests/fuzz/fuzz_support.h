// Shared pieces of the fuzz targets: a silent UI seam with a work budget, a private
// scratch directory, and the checks that every target makes after a run.
#ifndef VORPANEX_TESTS_FUZZ_SUPPORT_H
#define VORPANEX_TESTS_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Every extraction pumps once per member and once per chunk of at most 32768 bytes. The
// silent UI presses Cancel after this many pumps, or before a chunk that would take
// the bytes decoded in this run past the output budget, so that an input declaring
// gigabytes costs no more than a chunk or so (decoding is nearly all of a run's time);
// the core's own Cancel path ends the run. The decoder target spends the budget on a
// full chunk and a part of the next, where matches reach back across the window's end.
const int FUZZ_PUMP_BUDGET = 40;
const uint32_t FUZZ_OUTPUT_BUDGET = 40 * 1024;

// The output budget of a run whose input is inputSize bytes: 2 KiB and 16 bytes for each
// byte of input, at most FUZZ_OUTPUT_BUDGET. Packed data from the seeds expands less
// than that; what an input asks for beyond it is zero bits or long repeats, which a
// shorter run exercises as well.
inline uint32_t FuzzOutputBudget(size_t inputSize) {
    const size_t budget = 2048 + 16 * inputSize;
    return budget < FUZZ_OUTPUT_BUDGET ? static_cast<uint32_t>(budget) : FUZZ_OUTPUT_BUDGET;
}

// Resets the pump count and the Cancel flag before a run, with the run's output budget.
void ResetSilentUi(uint32_t outputBudget = FUZZ_OUTPUT_BUDGET);
int SilentUiPumps();
// The bytes of the chunks shown since the last reset: 0 when no member data was taken.
uint32_t SilentUiOutput();

// A directory of this process's own under the temporary directory, made on first use
// and removed at exit. Every path a target uses lies inside it.
const std::string& ScratchRoot();

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> ListDirectory(const std::string& path);

// Removes a directory and everything below it. Aborts on failure.
void RemoveTree(const std::string& path);

// Reports a broken invariant and aborts, so that the fuzzer keeps the input.
[[noreturn]] void FuzzFailure(const char* what, const std::string& detail = std::string());

#endif
