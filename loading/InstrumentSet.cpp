#include "loading/InstrumentSet.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/Instrument.h"
#include "engine/InstrumentTable.h"
#include "loading/FileStream.h"
#include "loading/SampleFileCache.h"
#include "loading/WaveLoader.h"
#include "log/Log.h"
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

// The next word of text (its blanks skipped), copied into word (cut to its
// size); text moves past it. False at the end of the text.
bool NextWord(const char*& text, char* word, size_t size) {
  while (IsWhitespace(*text)) ++text;
  if (!*text) return false;
  size_t n = 0;
  for (; *text && !IsWhitespace(*text); ++text)
    if (n + 1 < size) word[n++] = *text;
  word[n] = '\0';
  return true;
}

// A whole word of an optional sign and decimal digits.
bool IsInteger(const char* word) {
  if (*word == '+' || *word == '-') ++word;
  if (!*word) return false;
  for (; *word; ++word)
    if (*word < '0' || *word > '9') return false;
  return true;
}

// A whole word of an optional sign, digits and an optional fraction: the
// whole part (held at cap + 1 once it passes cap), and the fraction's first
// six digits as fraction / scale. False when the word is no such number.
bool ScanDecimal(const char* word, int64_t cap, bool* negative, int64_t* whole, int64_t* fraction,
                 int64_t* scale) {
  *negative = false;
  if (*word == '+' || *word == '-') *negative = *word++ == '-';
  *whole = 0;
  *fraction = 0;
  *scale = 1;
  bool digit = false;
  for (; *word >= '0' && *word <= '9'; ++word) {
    digit = true;
    *whole = *whole * 10 + (*word - '0');
    if (*whole > cap) *whole = cap + 1;
  }
  if (*word == '.') {
    for (++word; *word >= '0' && *word <= '9'; ++word) {
      digit = true;
      if (*scale < 1000000) {
        *fraction = *fraction * 10 + (*word - '0');
        *scale *= 10;
      }
    }
  }
  return !*word && digit;
}

// Frames of a release of ms milliseconds, ms a decimal word: ms x 44100 /
// 1000, truncated, in exact integers (fraction digits past the sixth are
// dropped). False when the word is no such number; frames beyond 32 bits
// come out as INT64_MAX.
bool ReleaseFrames(const char* word, int64_t* frames) {
  // Whole milliseconds beyond 10^8 are 4.41e9 frames, past 32 bits: they
  // stay at 10^8 + 1, which is too long whatever the fraction.
  bool negative = false;
  int64_t whole = 0;
  int64_t fraction = 0;
  int64_t scale = 1;
  if (!ScanDecimal(word, 100000000, &negative, &whole, &fraction, &scale)) return false;
  const int64_t n = (whole * scale + fraction) * 441 / (10 * scale);
  *frames = n > INT32_MAX ? INT64_MAX : negative ? -n : n;
  return true;
}

// A decimal number, read the same under every locale: the digits as an
// integer divided by the power of ten, one rounding. False when the word is
// no such number or is beyond a million.
bool ParseDecimal(const char* word, double* value) {
  bool negative = false;
  int64_t whole = 0;
  int64_t fraction = 0;
  int64_t scale = 1;
  if (!ScanDecimal(word, 1000000, &negative, &whole, &fraction, &scale) || whole > 1000000)
    return false;
  const int64_t scaled = whole * scale + fraction;
  const double magnitude = static_cast<double>(scaled) / static_cast<double>(scale);
  *value = negative ? -magnitude : magnitude;
  return true;
}

// 2^30 x 10^(db / 20) for db <= 0, rounded (0 below -200 dB), through
// additions, multiplications and divisions only, so that every build of the
// program gets the same bits: e^x as (e^(x / 2^k))^(2^k), the small power
// from its series.
int64_t LevelOfDecibels(double db) {
  if (db >= 0.0) return SAMPLE_FULL_LEVEL;
  if (db < -200.0) return 0;
  double x = db * (2.302585092994045684 / 20.0);  // ln 10 / 20
  int halvings = 0;
  while (x < -0x1p-10) {
    x *= 0.5;
    halvings += 1;
  }
  double term = 1.0;
  double sum = 1.0;
  for (int n = 1; n <= 8; ++n) {
    term = term * x / n;
    sum += term;
  }
  for (int i = 0; i < halvings; ++i) sum *= sum;
  return std::llround(sum * static_cast<double>(SAMPLE_FULL_LEVEL));
}

// What a sample block's loop and release lines asked for; they take effect
// when the block ends, checked against the sample it loaded.
struct SampleOptions {
  enum class Loop { kNone, kFrames, kFromFile, kMalformed };
  Loop loop = Loop::kNone;
  int32_t loopStart = 0;
  int32_t loopEnd = 0;
  int32_t loopMode = SAMPLE_LOOP_CONTINUOUS;
  char loopText[64] = {};  // the loop line's value, for a message
  char modeWord[32] = {};  // an unknown mode, for its message
  enum class Release { kNone, kFrames, kMalformed };
  Release release = Release::kNone;
  int64_t releaseFrames = 0;
  char releaseWord[32] = {};
  // The shaping lines, each: absent, read, or not understood (its text kept
  // for the message).
  enum class Line { kNone, kRead, kMalformed };
  Line pitch = Line::kNone;
  char pitchText[64] = {};
  Line level = Line::kNone;
  double levelDb = 0.0;
  char levelText[64] = {};
  Line decay = Line::kNone;
  int64_t decayStartFrames = 0;
  double decayDbPerSecond = 0.0;
  double sustainDb = 0.0;
  char decayText[64] = {};
};

// The value of a line with its blanks skipped, for a message.
void KeepText(const char* value, char* text, size_t size) {
  while (IsWhitespace(*value)) ++value;
  std::snprintf(text, size, "%s", value);
}

void ReadPitch(const char* value, SampleOptions* o) {
  KeepText(value, o->pitchText, sizeof o->pitchText);
  char word[32] = {};
  char more[2] = {};
  const bool one = NextWord(value, word, sizeof word) && !NextWord(value, more, sizeof more);
  o->pitch = one && EqualsIgnoringCase(word, "exact") ? SampleOptions::Line::kRead
                                                      : SampleOptions::Line::kMalformed;
}

void ReadLevel(const char* value, SampleOptions* o) {
  KeepText(value, o->levelText, sizeof o->levelText);
  char word[32] = {};
  char more[2] = {};
  const bool read = NextWord(value, word, sizeof word) && !NextWord(value, more, sizeof more) &&
                    ParseDecimal(word, &o->levelDb) && o->levelDb <= 0.0;
  o->level = read ? SampleOptions::Line::kRead : SampleOptions::Line::kMalformed;
}

void ReadDecay(const char* value, SampleOptions* o) {
  KeepText(value, o->decayText, sizeof o->decayText);
  char start[32] = {};
  char rate[32] = {};
  char sustain[32] = {};
  char more[2] = {};
  const bool read =
      NextWord(value, start, sizeof start) && NextWord(value, rate, sizeof rate) &&
      NextWord(value, sustain, sizeof sustain) && !NextWord(value, more, sizeof more) &&
      ReleaseFrames(start, &o->decayStartFrames) && o->decayStartFrames >= 0 &&
      o->decayStartFrames <= INT32_MAX && ParseDecimal(rate, &o->decayDbPerSecond) &&
      o->decayDbPerSecond >= 0.0 && ParseDecimal(sustain, &o->sustainDb) && o->sustainDb <= 0.0;
  o->decay = read ? SampleOptions::Line::kRead : SampleOptions::Line::kMalformed;
}

void ReadLoop(const char* value, SampleOptions* options) {
  // A later loop line replaces an earlier one.
  SampleOptions& o = *options;
  o.loop = SampleOptions::Loop::kFromFile;
  o.loopStart = 0;
  o.loopEnd = 0;
  o.loopMode = SAMPLE_LOOP_CONTINUOUS;
  o.modeWord[0] = '\0';
  const char* text = value;
  while (IsWhitespace(*text)) ++text;
  std::snprintf(o.loopText, sizeof o.loopText, "%s", text);
  char word[32];
  if (!NextWord(text, word, sizeof word)) return;
  if (IsInteger(word)) {
    o.loopStart = ParseNumber(word);
    if (!NextWord(text, word, sizeof word) || !IsInteger(word)) {
      o.loop = SampleOptions::Loop::kMalformed;
      return;
    }
    o.loopEnd = ParseNumber(word);
    o.loop = SampleOptions::Loop::kFrames;
    if (!NextWord(text, word, sizeof word)) return;
  }
  if (EqualsIgnoringCase(word, "continuous")) {
    o.loopMode = SAMPLE_LOOP_CONTINUOUS;
  } else if (EqualsIgnoringCase(word, "sustain")) {
    o.loopMode = SAMPLE_LOOP_SUSTAIN;
  } else {
    std::snprintf(o.modeWord, sizeof o.modeWord, "%s", word);
  }
}

void ReadRelease(const char* value, SampleOptions* options) {
  char word[32] = {};
  NextWord(value, word, sizeof word);
  std::snprintf(options->releaseWord, sizeof options->releaseWord, "%s", word);
  options->release = ReleaseFrames(word, &options->releaseFrames)
                         ? SampleOptions::Release::kFrames
                         : SampleOptions::Release::kMalformed;
}

// Gives the loaded sample its loop and release time, or says in one line
// each why a line is not followed (the sample then plays as without it).
void ApplyOptions(const SampleOptions& o, const char* file, Sample* sample) {
  using Loop = SampleOptions::Loop;
  if (o.loop != Loop::kNone) {
    int32_t start = o.loopStart;
    int32_t end = o.loopEnd;
    if (o.loop == Loop::kFromFile) {
      start = sample->fileLoopStart;
      end = sample->fileLoopEnd;
    }
    const int32_t last = sample->length - 1;
    if (o.loop == Loop::kMalformed) {
      LogFormat("Sample: '%s': loop '%s' is not START END [MODE], it plays without a loop", file,
                o.loopText);
    } else if (o.loop == Loop::kFromFile && start < 0) {
      LogFormat("Sample: '%s': the file has no loop (smpl chunk), it plays without a loop", file);
    } else if (start < 0) {
      LogFormat("Sample: '%s': loop start %d is before the first frame, it plays without a loop",
                file, start);
    } else if (end < start) {
      LogFormat("Sample: '%s': loop end %d is before its start %d, it plays without a loop", file,
                end, start);
    } else if (end > last) {
      LogFormat("Sample: '%s': loop end %d is past the last frame %d, it plays without a loop",
                file, end, last);
    } else {
      if (o.modeWord[0])
        LogFormat("Sample: '%s': unknown loop mode '%s', the loop is continuous", file, o.modeWord);
      sample->loopMode = o.loopMode;
      sample->loopStart = start;
      sample->loopEnd = end;
    }
  }
  if (o.release == SampleOptions::Release::kMalformed) {
    LogFormat("Sample: '%s': release '%s' is not a time in milliseconds, it stays %d frames", file,
              o.releaseWord, SAMPLE_RELEASE_FRAMES);
  } else if (o.release == SampleOptions::Release::kFrames) {
    if (o.releaseFrames < 16)
      LogFormat("Sample: '%s': release %s ms is shorter than 16 frames, it stays %d frames", file,
                o.releaseWord, SAMPLE_RELEASE_FRAMES);
    else if (o.releaseFrames > INT32_MAX)
      LogFormat("Sample: '%s': release %s ms is too long, it stays %d frames", file, o.releaseWord,
                SAMPLE_RELEASE_FRAMES);
    else
      sample->releaseFrames = static_cast<int32_t>(o.releaseFrames);
  }
  using Line = SampleOptions::Line;
  if (o.pitch == Line::kMalformed)
    LogFormat("Sample: '%s': pitch '%s' is not 'exact', it plays as without the line", file,
              o.pitchText);
  else if (o.pitch == Line::kRead)
    sample->exactPitch = true;
  if (o.level == Line::kMalformed)
    LogFormat("Sample: '%s': level '%s' is not a level in dB of 0 or below, it plays at full level",
              file, o.levelText);
  else if (o.level == Line::kRead)
    sample->level = LevelOfDecibels(o.levelDb);
  if (o.decay == Line::kMalformed) {
    LogFormat(
        "Sample: '%s': decay '%s' is not START_MS DB_PER_SECOND SUSTAIN_DB (a sustain of 0 dB or "
        "below), it plays without a decay",
        file, o.decayText);
  } else if (o.decay == Line::kRead) {
    sample->decayStart = o.decayStartFrames;
    // dB a second over the frames of one piece.
    sample->decayFactor = LevelOfDecibels(-o.decayDbPerSecond * SAMPLE_SHAPE_PIECE / 44100.0);
    sample->sustainLevel = LevelOfDecibels(o.sustainDb) * sample->level / SAMPLE_FULL_LEVEL;
  }
  // Shaped voices play in pieces, each carrying its fraction of a frame.
  if (sample->Shaped()) sample->exactPitch = true;
}

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

namespace {
// Hands each key line of a block to take, up to its closing '}' or the end of
// the stream. take returns false when memory ran out: the block ends there,
// and so does the result; true otherwise.
template <class Take>
bool ReadKeyLines(BufferedStream& stream, Take take) {
  for (;;) {
    char* line = TrimBlanks(stream.ReadLine(nullptr));
    if (!line) return true;
    const bool ended = stream.AtEnd();
    if (*line == '}') return true;
    if (!take(line)) return false;
    if (ended) return true;
  }
}
}  // namespace

bool ParseInstrumentBlock(BufferedStream& stream, SampleFileCache* cache) {
  Instrument* instrument = new (std::nothrow) Instrument();
  if (!instrument) return false;
  int32_t id = 0;
  bool forChannel = false;
  int32_t channel = 0;
  const bool enoughMemory = ReadKeyLines(stream, [&](char* line) {
    switch (*line) {
      case 'C':
      case 'c':
        if (KeyMatches(line, "channel")) {
          forChannel = true;
          channel = ParseNumber(ValueOf(line));
        }
        break;
      case 'I':
      case 'i':
        if (KeyMatches(line, "id")) id = ParseNumber(ValueOf(line));
        break;
      case 'N':
      case 'n':
        if (KeyMatches(line, "name")) {
          instrument->name.reset(DuplicateString(ValueOf(line)));
          if (!instrument->name) return false;
        }
        break;
      case 'S':
      case 's':
        if (KeyMatches(line, "sample") && !ParseSampleBlock(*instrument, stream, cache))
          return false;
        break;
      default:
        break;
    }
    return true;
  });
  if (!enoughMemory) {
    delete instrument;
    return false;
  }

  const char* name = instrument->DisplayName();
  if (instrument->sampleCount <= 0) {
    LogFormat("Instrument '%s' has no samples, it has been discarded", name);
  } else if (forChannel) {
    // Its ID line, if any, is not used: it takes no slot of the table.
    if (channel < 1 || channel > CHANNEL_INSTRUMENT_COUNT) {
      LogFormat("Instrument '%s' has an invalid channel %d, it has been discarded", name, channel);
    } else if (Instrument* first = ChannelInstrumentTable[channel - 1]) {
      LogFormat(
          "Instrument '%s' has the same channel as instrument '%s', the former has been discarded",
          name, first->DisplayName());
    } else {
      LogFormat("Instrument '%s' with %d samples has been loaded for channel %d", name,
                instrument->sampleCount, channel);
      ChannelInstrumentTable[channel - 1] = instrument;
      return true;
    }
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
  SampleOptions options;
  // The last file line's path, which the loop and release messages name.
  std::unique_ptr<char[]> file;
  const bool enoughMemory = ReadKeyLines(stream, [&](char* line) {
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
        if (KeyMatches(line, "file")) {
          const char* path = TrimBlanks(SkipToWhitespace(line));
          loaded = LoadFile(*sample, path, cache);
          file.reset(DuplicateString(path));
          if (!file) return false;
        } else if (KeyMatches(line, "fine")) {
          (void)ParseNumber(ValueOf(line));  // fine tuning is read, not used
        }
        break;
      case 'D':
      case 'd':
        if (KeyMatches(line, "decay")) ReadDecay(ValueOf(line), &options);
        break;
      case 'L':
      case 'l':
        if (KeyMatches(line, "loop"))
          ReadLoop(ValueOf(line), &options);
        else if (KeyMatches(line, "level"))
          ReadLevel(ValueOf(line), &options);
        break;
      case 'P':
      case 'p':
        if (KeyMatches(line, "pitch")) ReadPitch(ValueOf(line), &options);
        break;
      case 'R':
      case 'r':
        if (KeyMatches(line, "release")) ReadRelease(ValueOf(line), &options);
        break;
      default:
        break;
    }
    return true;
  });

  if (!enoughMemory) {
    delete sample;
    return false;
  }
  if (!loaded) {
    delete sample;
    return true;
  }
  ApplyOptions(options, file.get(), sample);
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
