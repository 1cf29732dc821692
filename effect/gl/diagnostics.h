// Where the effect's GL diagnostics go: standard output, as the module has always written them,
// unless the program that links the effect in sends them elsewhere or drops them. A plug-in
// running inside another program (a frei0r plug-in in a video editor, or in FFmpeg writing a
// stream to its standard output) must not write into that program's output.
#pragma once

#include <ostream>

// The stream for one diagnostic, or one that drops what it is given. Safe from any thread.
std::ostream& GLDiagnostics();

// Sends every later diagnostic of the process to `to`; null drops them. The stream must outlive
// its use; &std::cout is the default.
void SetGLDiagnostics(std::ostream* to);
