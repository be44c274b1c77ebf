// The instrument set file: a first line beginning "PVID", then instrument
// blocks, each with an ID, a name and sample blocks that map WAV files onto
// note ranges. Read once at start-up on the user-interface thread; complete
// instruments go into the InstrumentTable slot of their ID.
#pragma once
#include <cstdint>

class BufferedStream;
class Instrument;
class SampleFileCache;

// A first line may begin with a UTF-8 byte-order mark (as many Windows
// editors save text); the set then loads as it would without one.
void LoadInstrumentSet(const char* path);
// Reads one instrument block (the line "instrument" has been read), then
// stores the instrument in the table or discards it with one log line. A
// cache shares the frames of sample files named more than once. False when
// memory ran out: the instrument is discarded and the caller gives up.
bool ParseInstrumentBlock(BufferedStream& stream, SampleFileCache* cache = nullptr);
// Reads one sample block, then adds its sample to the instrument and maps its
// note range, or drops it when no file line loaded. False when memory ran out.
bool ParseSampleBlock(Instrument& instrument, BufferedStream& stream,
                      SampleFileCache* cache = nullptr);

// Cuts bytes 0 to 32 from both ends in place; null for null.
char* TrimBlanks(char* line);
// The first space, TAB, LF, VT, FF or CR of the text, or its terminating NUL.
char* SkipToWhitespace(char* text);
// A copy allocated with new[]; null when there is no memory for it.
char* DuplicateString(const char* text);
// Reads a number as atol does (blanks, sign, digits), saturating to the
// 32-bit range so that every platform reads the same value.
int32_t ParseNumber(const char* text);
