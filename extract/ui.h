// The extraction's user interface: a status line, a progress position, a one-message
// pump and the Cancel flag. The stub implements them with its progress window, the
// tool with the terminal, the tests with recorders; the choice is made at link time.
#ifndef VORPANEX_EXTRACT_UI_H
#define VORPANEX_EXTRACT_UI_H

#include "platform/platform.h"

// Set to non-zero when the user asks to stop; never cleared during a run.
extern volatile int CancelRequested;

// Handles at most one pending event and returns at once when there is none.
int PumpOneMessage();

// The status line of the progress window ("Extracting : NAME").
void ShowStatusLine(HWND window, const char* text);

// The progress position, a percentage of the archive consumed (0 to 100).
void ShowProgress(HWND window, unsigned position);

#endif
