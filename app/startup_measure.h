#pragma once

class TfrmMain;

// For `tarvik --measure`: once the window has been painted, prints the time
// since the process started; then connects to the selected port, prints the
// resident memory, and closes the window.
void MeasureStartup(TfrmMain &frmMain);

// For `tarvik --check-start`: once the window has been painted, prints the
// style applied and where the settings file is kept, and closes the window
// (the settings are written at exit as usual).
void CheckStart(TfrmMain &frmMain);
