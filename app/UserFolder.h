// The user's own Pelvane folder, where the program started from the desktop
// menu works: it holds default.pvi, default.wav and the dump files. A menu
// starts programs in $HOME, and nothing may be written there; started from a
// terminal the program works in the folder it was started in instead.
#pragma once
#include <string>

// $PELVANE_HOME if set, else $XDG_DATA_HOME/pelvane (an absolute path only, as
// the base directory rules say), else $HOME/.local/share/pelvane. Empty when
// none names an absolute folder. Any argument may be null (not set).
std::string UserFolderPath(const char* pelvaneHome, const char* xdgDataHome, const char* home);

// Thread: ui. A folder that exists is used as it is. One that does not is made
// and filled with the instrument set in examples (default.pvi and its WAV
// files), as on first use, and the log says so. Then the folder becomes the
// working directory. False, with a log line saying why, when it cannot be made
// or entered; a file that cannot be copied is named in the log and skipped.
bool EnterUserFolder(const std::string& folder, const std::string& examples);
