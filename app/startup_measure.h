#pragma once

class TfrmMain;

// For `tarvik --measure`: once the window has been painted, prints the time
// since the process started; then connects to the selected port, prints the
// resident memory, and closes the window.
void MeasureStartup(TfrmMain &frmMain);
