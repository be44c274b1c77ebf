#include "tools/SmfReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kDefaultTempo = 500000;  // 120 quarter notes per minute

uint32_t BigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}
uint32_t BigEndian16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]);
}

// Saturating arithmetic: a hostile tempo map must give a huge time, not a
// wrapped small one.
uint64_t AddSaturating(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}
uint64_t MultiplySaturating(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a)
    return std::numeric_limits<uint64_t>::max();
  return a * b;
}

std::string Text(const char* format, unsigned long long a, unsigned long long b = 0,
                 unsigned long long c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// The number of data bytes that follow a channel status byte.
int DataBytes(uint8_t status) {
  uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

}  // namespace

bool SmfReader::Fail(const std::string& text) {
  error_ = text;
  events_.clear();
  messages_.clear();
  tempos_.clear();
  return false;
}

bool SmfReader::Parse(const uint8_t* data, size_t size) {
  events_.clear();
  messages_.clear();
  tempos_.clear();
  error_.clear();
  tempoCount_ = 0;
  endTick_ = 0;
  endTimeUs_ = 0;

  if (size < 8 || std::memcmp(data, "MThd", 4) != 0)
    return Fail("not a Standard MIDI File (no MThd header)");
  uint32_t headerLength = BigEndian32(data + 4);
  if (headerLength < 6) return Fail(Text("bad header length %llu (at least 6)", headerLength));
  if (headerLength > size - 8)
    return Fail(Text("header length %llu runs past the end of the file (%llu bytes left)",
                     headerLength, size - 8));
  format_ = static_cast<int>(BigEndian16(data + 8));
  trackCount_ = static_cast<int>(BigEndian16(data + 10));
  uint32_t division = BigEndian16(data + 12);
  if (format_ == 2) return Fail("SMF format 2 (independent sequences) is not supported");
  if (format_ > 2) return Fail(Text("unknown SMF format %llu", format_));
  if (division & 0x8000)
    return Fail("SMPTE time division is not supported, only ticks per quarter note");
  if (division == 0) return Fail("bad division 0 ticks per quarter note");
  division_ = static_cast<int>(division);
  if (trackCount_ == 0) return Fail("the header announces no tracks");

  size_t at = 8 + static_cast<size_t>(headerLength);
  uint32_t tracksRead = 0;
  while (tracksRead < static_cast<uint32_t>(trackCount_)) {
    if (at == size)
      return Fail(Text("the header announces %llu tracks, the file holds %llu",
                       static_cast<unsigned long long>(trackCount_), tracksRead));
    if (size - at < 8) return Fail(Text("truncated chunk header at offset %llu", at));
    uint32_t length = BigEndian32(data + at + 4);
    if (length > size - at - 8)
      return Fail(
          Text("chunk length %llu at offset %llu runs past the end of the file "
               "(%llu bytes left)",
               length, at, size - at - 8));
    if (std::memcmp(data + at, "MTrk", 4) == 0) {
      if (!ParseTrack(data + at + 8, length, at + 8, tracksRead)) return false;
      tracksRead += 1;
    }
    at += 8 + static_cast<size_t>(length);
  }
  PlaceInTime();
  return true;
}

bool SmfReader::ParseTrack(const uint8_t* data, size_t size, size_t fileOffset, uint32_t track) {
  size_t at = 0;
  uint64_t tick = 0;
  uint8_t runningStatus = 0;
  auto truncated = [&]() {
    return Fail(Text("track %llu: event runs past the end of its chunk at offset %llu", track,
                     fileOffset + at));
  };
  // A variable-length quantity: at most four bytes, seven bits each.
  auto readNumber = [&](uint32_t* value) {
    *value = 0;
    for (int i = 0; i < 4; ++i) {
      if (at >= size) return truncated();
      uint8_t byte = data[at++];
      *value = (*value << 7) | (byte & 0x7F);
      if (!(byte & 0x80)) return true;
    }
    return Fail(Text("track %llu: variable-length number longer than 4 bytes at offset %llu", track,
                     fileOffset + at - 4));
  };

  while (at < size) {
    uint32_t delta;
    if (!readNumber(&delta)) return false;
    tick += delta;
    if (at >= size) return truncated();
    uint8_t status = data[at];
    if (status == 0xFF) {  // meta event: type, length, data
      at += 1;
      if (at >= size) return truncated();
      uint8_t type = data[at++];
      uint32_t length;
      if (!readNumber(&length)) return false;
      if (length > size - at) return truncated();
      if (type == 0x51 && length == 3) {
        uint32_t tempo = static_cast<uint32_t>(data[at]) << 16 |
                         static_cast<uint32_t>(data[at + 1]) << 8 | data[at + 2];
        tempos_.push_back(TempoChange{tick, track, tempo});
        tempoCount_ += 1;
      }
      at += length;
      if (type == 0x2F) break;                      // end of track; whatever follows is not read
    } else if (status == 0xF0 || status == 0xF7) {  // system exclusive: length, data
      at += 1;
      uint32_t length;
      if (!readNumber(&length)) return false;
      if (length > size - at) return truncated();
      at += length;
    } else if (status >= 0xF1) {
      return Fail(Text("track %llu: status 0x%02llX is not allowed in a MIDI file at offset %llu",
                       track, status, fileOffset + at));
    } else {
      if (status & 0x80) {
        runningStatus = status;
        at += 1;
      } else if (runningStatus == 0) {
        return Fail(Text("track %llu: data byte 0x%02llX without a status byte at offset %llu",
                         track, status, fileOffset + at));
      }
      // Meta and system-exclusive events leave the running status alone:
      // files in the wild rely on that, and no valid file is read differently.
      int count = DataBytes(runningStatus);
      if (size - at < static_cast<size_t>(count)) return truncated();
      uint32_t message = runningStatus;
      for (int i = 0; i < count; ++i) {
        if (data[at + i] & 0x80)
          return Fail(
              Text("track %llu: status byte 0x%02llX where a data byte belongs at "
                   "offset %llu",
                   track, data[at + i], fileOffset + at + i));
        message |= static_cast<uint32_t>(data[at + i]) << (8 * (i + 1));
      }
      at += count;
      messages_.push_back(TimedMessage{tick, track, message});
    }
  }
  // The End of Track, or the last event of a track cut short without one.
  if (tick > endTick_) endTick_ = tick;
  return true;
}

uint64_t SmfReader::TimeUsOf(uint64_t tick) const {
  uint64_t segmentTick = 0;
  uint64_t segmentScaled = 0;
  uint64_t tempo = kDefaultTempo;
  for (const TempoChange& change : tempos_) {
    if (change.tick > tick) break;
    segmentScaled =
        AddSaturating(segmentScaled, MultiplySaturating(change.tick - segmentTick, tempo));
    segmentTick = change.tick;
    tempo = change.microsecondsPerQuarter;
  }
  const uint64_t scaled =
      AddSaturating(segmentScaled, MultiplySaturating(tick - segmentTick, tempo));
  return scaled == std::numeric_limits<uint64_t>::max() ? scaled
                                                        : scaled / static_cast<uint64_t>(division_);
}

void SmfReader::PlaceInTime() {
  // Stable sorts keep file order within a track, and track order at equal
  // ticks, because the vectors were filled track by track.
  auto byTickThenTrack = [](const auto& a, const auto& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
  };
  std::stable_sort(messages_.begin(), messages_.end(), byTickThenTrack);
  std::stable_sort(tempos_.begin(), tempos_.end(), byTickThenTrack);

  // Time is kept as microseconds x division, so every segment of constant
  // tempo adds exactly and only the final division rounds.
  uint64_t segmentTick = 0;
  uint64_t segmentScaled = 0;
  uint64_t tempo = kDefaultTempo;
  size_t nextTempo = 0;
  events_.reserve(messages_.size());
  for (const TimedMessage& m : messages_) {
    // A tempo change at the same tick as a note applies to the note.
    while (nextTempo < tempos_.size() && tempos_[nextTempo].tick <= m.tick) {
      const TempoChange& change = tempos_[nextTempo++];
      segmentScaled =
          AddSaturating(segmentScaled, MultiplySaturating(change.tick - segmentTick, tempo));
      segmentTick = change.tick;
      tempo = change.microsecondsPerQuarter;
    }
    uint64_t scaled = AddSaturating(segmentScaled, MultiplySaturating(m.tick - segmentTick, tempo));
    MidiEvent event;
    event.timeUs = scaled == std::numeric_limits<uint64_t>::max()
                       ? scaled
                       : scaled / static_cast<uint64_t>(division_);
    event.message = m.message;
    event.timeStamp = static_cast<uint32_t>(event.timeUs / 1000);
    events_.push_back(event);
  }
  endTimeUs_ = TimeUsOf(endTick_);
  messages_.clear();
  tempos_.clear();
}
