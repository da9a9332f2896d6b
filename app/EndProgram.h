#pragma once

namespace gq {

// Ends the process at once, without unwinding and without waiting for any thread: for a window
// closed while long work runs, which is abandoned. The program's temporary files that are open
// at that moment (a text export, a workbook being handed over) are deleted first; nothing else
// is flushed or written.
[[noreturn]] void EndProgramAtOnce();

} // namespace gq
