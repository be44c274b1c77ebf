// The MIDI dump file: every message of a run, with its time stamp, as 8-byte
// records (time stamp, then message word, both little-endian), in arrival
// order, in a new file "dump%04x.pvd" in the current directory.
#pragma once
#include <cstdint>

#include "platform/File.h"

// User-interface thread. Creates the first "dump%04x.pvd" (counter from 1)
// that is not an existing file; a name that another process creates between
// the test and the creation sends the search on to the next one.
// platform::kNoFile when the name cannot be created for another reason (it
// is a directory, the folder is read-only), which is one log line: the run
// goes on without a recording.
platform::FileHandle CreateDumpFile();

// MidiIn thread. Appends one record in one write, so that a file-size limit or
// a full disk that is a multiple of 8 bytes away never tears one; does nothing
// without a file. False when the record was not written whole.
bool WriteDumpRecord(platform::FileHandle file, uint32_t timeStamp, uint32_t message);
