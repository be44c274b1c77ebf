// pelvane-import's work: reads SOURCE, tells a SoundFont from an SFZ kit by
// its content, imports it into OUTDIR with a progress bar on a terminal and
// a summary line, and returns the exit status (1 with one error line for
// bad input).
#pragma once
#include "tools/import/ImportOptions.h"

int RunImportCommand(const ImportOptions& options);
