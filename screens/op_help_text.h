#pragma once

#include <QStringList>

// The lines of the operation help memo, in order: each section's heading,
// its text lines, and an empty line between sections.
QStringList OpHelpLines();
