// The utility's own code: the encrypt and decrypt actions and the ROT47 transform.
//
// An action asks for an input file and writes its ROT47 copy next to it, named with "-enc." or
// "-dec." between the base name and the extension. The part after the path has been chosen is
// portable (FileActionRun); asking for the path and showing messages is Windows-only.
//
// The actions run on the thread of the event loop; their file work uses the runtime's fixed file
// numbers 0 (output) and 1 (input) and the program-wide line variable, so one action runs at a
// time.
#pragma once

#include <cstdint>

#include "runtime/platform/platform.h"

namespace app {

// The line being copied, shared by both actions; it keeps the last line read.
extern WCHAR* CurrentLine;

// Rotates every unit from 33 to 126 by 47 places within that range, in place, up to the
// terminating zero; all other units stay. Returns 0.
int64_t Rot47InPlace(WCHAR* text);
// Writes the rotated form of `units` units of `source` to `destination`, which does not overlap
// it, and a zero unit after them: a copy and Rot47InPlace of the copy in one pass. Reads the unit
// after the text too when `units` is odd (a string builder keeps room after its text).
void Rot47Copy(WCHAR* destination, const WCHAR* source, int64_t units);

// Tells the user why an action could not do its work; `text` is the whole message.
using UserNotice = void (*)(const WCHAR* text);

// Writes the ROT47 copy of the text file at `path` to directory part + base name + `suffix` +
// extension, line by line as 8-bit text with CR LF after every line. The input is opened for
// reading (shared with other readers) before the output is created or truncated. When the input
// cannot be opened, the output cannot be created, the input cannot be read whole or a write fails
// (the incomplete output is then removed, or emptied when it cannot be removed, also when the
// runtime has to stop the program during the copy), `tell` receives the reason, a line break and
// the path concerned, and what became of a copy that could not be removed; success is silent.
// `path` lies outside the string builder (a string variable, for instance). Returns 0.
int64_t FileActionRun(const WCHAR* path, const WCHAR* suffix, UserNotice tell);

#ifdef _WIN32
// The two actions of the main window's buttons: the open-file dialog, then FileActionRun with
// "-enc." or "-dec.", failures told in a message box. Cancelling the dialog does nothing. Return 0.
int64_t EncryptFileAction();
int64_t DecryptFileAction();

// The entry routine: starts the runtime, shows the window with its two buttons, runs the event
// loop until the window is asked to close, ends the runtime and the process with exit code 0.
[[noreturn]] void AppMain();
#endif

}  // namespace app
