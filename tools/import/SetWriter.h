// Writes the imported instruments into a folder: one 16-bit WAV file for
// each distinct sample (a zone several presets share is written once), the
// instrument set default.pvi that names them, with the loop, release,
// pitch, level, decay and channel keys, and what the report needs to say about each instrument.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tools/import/ImportZone.h"

struct WrittenInstrument {
  std::string header;             // "Instrument 0 'Piano'" or "Channel 10 'Standard'"
  std::vector<std::string> kept;  // one line per sample block
  std::vector<std::string> dropped;
  std::vector<std::string> approximations;
};

struct SetTotals {
  size_t instruments = 0;
  size_t blocks = 0;
  size_t dropped = 0;
  size_t files = 0;
  uint64_t bytes = 0;
  int64_t clipped = 0;
};

class SetWriter {
 public:
  SetWriter(std::string folder, double maxSeconds)
      : folder_(std::move(folder)), maxSeconds_(maxSeconds) {}

  // Writes the instrument's samples and appends its block to the set text.
  // False with *error set when a file cannot be written.
  bool Add(const ImportInstrument& instrument, std::string* error);
  // Writes default.pvi (the first line names the source).
  bool Finish(const std::string& title, std::string* error);

  const std::vector<WrittenInstrument>& Instruments() const { return written_; }
  const SetTotals& Totals() const { return totals_; }

 private:
  struct Block {
    std::string file;
    std::string text;  // the sample block's lines
    std::string line;  // for the report
    std::vector<std::string> notes;
  };
  bool WriteZone(const ImportZone& zone, int keyLo, int keyHi, std::vector<Block>* blocks,
                 std::string* error);

  std::string folder_;
  double maxSeconds_;
  std::string text_;
  std::map<std::string, Block> shared_;
  // The files written, by what they hold: a hash of the values, their
  // count, the channels and the rate.
  using Content = std::tuple<size_t, size_t, int, int32_t>;
  std::multimap<Content, std::string> files_;
  std::vector<WrittenInstrument> written_;
  SetTotals totals_;
};
