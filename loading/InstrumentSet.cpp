#include "loading/InstrumentSet.h"

#include <cstring>
#include <new>

#include "app/Log.h"
#include "engine/Instrument.h"
#include "engine/InstrumentTable.h"
#include "loading/FileStream.h"
#include "loading/SampleFileCache.h"
#include "loading/WaveLoader.h"
#include "platform/File.h"

namespace {

bool IsWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The line begins with the key, ignoring the case of ASCII letters; a longer
// word that begins with the key matches too.
bool KeyMatches(const char* line, const char* key) {
  for (; *key; ++line, ++key) {
    if (LowerAscii(*line) != *key) return false;
  }
  return true;
}

bool EqualsIgnoringCase(const char* text, const char* word) {
  return KeyMatches(text, word) && text[std::strlen(word)] == '\0';
}

const char* ValueOf(char* line) { return SkipToWhitespace(line); }

}  // namespace

char* TrimBlanks(char* line) {
  if (!line) return nullptr;
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  char* first = line;
  while (*first && blank(*first)) ++first;
  char* end = first + std::strlen(first);
  while (end > first && blank(end[-1])) --end;
  *end = '\0';
  return first;
}

char* SkipToWhitespace(char* text) {
  if (!text) return nullptr;
  while (*text && !IsWhitespace(*text)) ++text;
  return text;
}

char* DuplicateString(const char* text) {
  const size_t size = std::strlen(text) + 1;
  char* copy = new (std::nothrow) char[size];
  if (!copy) return nullptr;
  std::memcpy(copy, text, size);
  return copy;
}

int32_t ParseNumber(const char* text) {
  while (IsWhitespace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  // Accumulated as a negative number, whose range holds INT32_MIN.
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 - (*text - '0');
    if (value < INT32_MIN) value = INT32_MIN - int64_t{1};  // saturated, stays put
  }
  if (negative) return value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
  return value < -int64_t{INT32_MAX} ? INT32_MAX : static_cast<int32_t>(-value);
}

void LoadInstrumentSet(const char* path) {
  LogFormat("Loading instrument set from '%s'...", path);
  if (!platform::FileExists(path)) {
    LogMessage("Instrument set not loaded, file not found.");
    return;
  }
  FileStream stream(path);
  if (stream.handle == platform::kNoFile) {
    const int error = platform::LastError();
    if (error == platform::kErrorNotRegularFile)
      LogMessage("Instrument set not loaded, not a regular file.");
    else
      LogFormat("Instrument set not loaded, cannot open file: GLE = %d.", error);
    return;
  }
  if (!stream.buffer) {
    LogMessage("Instrument set not loaded, not enough memory.");
    return;
  }
  // The magic is tested on the line as it stands, not trimmed: a blank before
  // it makes the file unreadable. A UTF-8 byte-order mark is not part of the
  // text, only a sign of its encoding.
  int32_t taken = 0;
  const char* first = stream.ReadLine(&taken);
  if (first && std::strncmp(first, "\xEF\xBB\xBF", 3) == 0) first += 3;
  if (!first || taken < 4 || std::strncmp(first, "PVID", 4) != 0) {
    LogMessage("Instrument set not loaded, the file does not begin with \"PVID\".");
    return;
  }
  SampleFileCache cache;
  while (!stream.AtEnd()) {
    const char* line = TrimBlanks(stream.ReadLine(nullptr));
    if (!line) break;
    if (EqualsIgnoringCase(line, "instrument") && !ParseInstrumentBlock(stream, &cache)) {
      LogMessage("Instrument set: not enough memory, the rest of the set is not loaded.");
      return;
    }
  }
}

bool ParseInstrumentBlock(BufferedStream& stream, SampleFileCache* cache) {
  Instrument* instrument = new (std::nothrow) Instrument();
  if (!instrument) return false;
  bool enoughMemory = true;
  int32_t id = 0;
  for (;;) {
    char* line = TrimBlanks(stream.ReadLine(nullptr));
    if (!line) break;
    const bool ended = stream.AtEnd();
    if (*line == '}') break;
    switch (*line) {
      case 'I':
      case 'i':
        if (KeyMatches(line, "id")) id = ParseNumber(ValueOf(line));
        break;
      case 'N':
      case 'n':
        if (KeyMatches(line, "name")) {
          instrument->name.reset(DuplicateString(ValueOf(line)));
          if (!instrument->name) enoughMemory = false;
        }
        break;
      case 'S':
      case 's':
        if (KeyMatches(line, "sample") && !ParseSampleBlock(*instrument, stream, cache))
          enoughMemory = false;
        break;
      default:
        break;
    }
    if (ended || !enoughMemory) break;
  }
  if (!enoughMemory) {
    delete instrument;
    return false;
  }

  const char* name = instrument->DisplayName();
  if (instrument->sampleCount <= 0) {
    LogFormat("Instrument '%s' has no samples, it has been discarded", name);
  } else if (id < 0) {
    LogFormat("Instrument '%s' has no ID, it has been discarded", name);
  } else if (id >= DEFAULT_INSTRUMENT_SLOT) {
    // Slot 128 belongs to the default instrument; above it there is no slot.
    LogFormat("Instrument '%s' has an invalid ID %d, it has been discarded", name, id);
  } else if (InstrumentTable[id]) {
    LogFormat("Instrument '%s' has the same ID as instrument '%s', the former has been discarded",
              name, InstrumentTable[id]->DisplayName());
  } else {
    LogFormat("Instrument '%s' with %d samples has been loaded as ID %d", name,
              instrument->sampleCount, id);
    InstrumentTable[id] = instrument;
    return true;
  }
  delete instrument;
  return true;
}

bool ParseSampleBlock(Instrument& instrument, BufferedStream& stream, SampleFileCache* cache) {
  Sample* sample = new (std::nothrow) Sample();
  if (!sample) return false;
  int32_t begin = 0;
  int32_t end = 127;
  bool loaded = false;
  for (;;) {
    char* line = TrimBlanks(stream.ReadLine(nullptr));
    if (!line) break;
    const bool ended = stream.AtEnd();
    if (*line == '}') break;
    switch (*line) {
      case 'B':
      case 'b':
        if (KeyMatches(line, "begin"))
          begin = ParseNumber(ValueOf(line));
        else if (KeyMatches(line, "base"))
          // Written at once: a base line before the file line is overwritten
          // by the load, which sets the base note to 64.
          sample->baseNote = ParseNumber(ValueOf(line));
        break;
      case 'E':
      case 'e':
        if (KeyMatches(line, "end")) end = ParseNumber(ValueOf(line));
        break;
      case 'F':
      case 'f':
        if (KeyMatches(line, "file"))
          loaded = LoadFile(*sample, TrimBlanks(SkipToWhitespace(line)), cache);
        else if (KeyMatches(line, "fine"))
          (void)ParseNumber(ValueOf(line));  // fine tuning is read, not used
        break;
      default:
        break;
    }
    if (ended) break;
  }

  if (!loaded) {
    delete sample;
    return true;
  }
  const int32_t index = instrument.AddSample(sample);
  if (index < 0) {
    delete sample;
    return false;
  }
  if (begin > end) {
    const int32_t swap = begin;
    begin = end;
    end = swap;
  }
  // Only the part of the range inside the note map counts.
  if (begin < 0) begin = 0;
  if (end > 127) end = 127;
  for (int32_t note = begin; note <= end; ++note) instrument.noteMap[note] = index;
  return true;
}
