// The extraction's UI seam for the core tests: records what the loop showed, and can
// press Cancel after a given number of pumps.
#include "support/recording_ui.h"

volatile int CancelRequested;
RecordingUi recordingUi;

int PumpOneMessage() {
    ++recordingUi.pumps;
    if (recordingUi.cancelAfterPumps > 0 && recordingUi.pumps >= recordingUi.cancelAfterPumps) {
        CancelRequested = 1;
    }
    return 0;
}

void ShowStatusLine(HWND, const char* text) {
    recordingUi.statusLines.push_back(text);
    if (recordingUi.onStatusLine != nullptr) recordingUi.onStatusLine();
}

void ShowProgress(HWND, unsigned position) { recordingUi.positions.push_back(position); }

void ResetRecordingUi() {
    recordingUi = RecordingUi();
    CancelRequested = 0;
}
