// The terminal side of the Linux program. Standard output carries the texts of the boxes the
// Windows program shows, one line each, and the progress: a bar on a terminal, "progress N%"
// lines otherwise. Standard error carries the debugger lines (with --verbose only) and the
// program's own notices, each line starting with "oskel-update: ".
#pragma once

#include <string>

#include "platform/types.h"

// The one "dialog" of the terminal program, and its progress bar.
platform::WindowHandle TerminalDialog();
platform::WindowHandle TerminalProgressBar();

void TerminalSetVerbose(bool verbose);

// One line of standard output (a box's text), after the progress bar's line if one is drawn.
void TerminalShowLine(const std::string& text);

// A debugger line to standard error, when --verbose asked for them: "oskel-update: " and the
// text, before each of its lines.
void TerminalDebugLine(const char* text);

// "oskel-update: " and the text to standard error.
void TerminalNotice(const std::string& text);

// The progress bar: its range (as the dialog's bar has one) and its position. Shown only while a
// download runs.
void TerminalProgressRange(int low, int high);
void TerminalProgressPosition(int position);
void TerminalProgressShown(bool shown);

