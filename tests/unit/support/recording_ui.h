// Recorder behind the extraction's UI seam, for the core tests.
#ifndef VORPANEX_TESTS_RECORDING_UI_H
#define VORPANEX_TESTS_RECORDING_UI_H

#include <string>
#include <vector>

#include "extract/ui.h"

struct RecordingUi {
    std::vector<std::string> statusLines;
    std::vector<unsigned> positions;
    int pumps = 0;
    int cancelAfterPumps = 0;  // 0: never press Cancel
    void (*onStatusLine)() = nullptr;  // called after each status line is recorded
};

extern RecordingUi recordingUi;
void ResetRecordingUi();

#endif
