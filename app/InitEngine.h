// The engine's data, built once at start-up on the user-interface thread
// before any synthesizer exists: the pitch table, the default instrument in
// slot 128 (its tone overlaid from "default.wav" when that loads), slots 0 to
// 127 emptied and the instrument set "default.pvi" loaded from the working
// directory. Read-only afterwards, never freed.
#pragma once

void InitEngine();
