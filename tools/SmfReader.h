// Reads a Standard MIDI File (formats 0 and 1, division in ticks per quarter
// note) into its channel messages, placed in time by the tempo map. Running
// status is honoured; meta events other than tempo and system-exclusive
// events are skipped; chunks other than MThd and MTrk are skipped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/MidiEvent.h"

class SmfReader {
 public:
  // False with Error() set on a malformed or unsupported file; never reads
  // outside [data, data + size).
  bool Parse(const uint8_t* data, size_t size);

  // Channel messages of every track, merged in time order; at equal times the
  // lower track first, then file order.
  const std::vector<MidiEvent>& Events() const { return events_; }
  const std::string& Error() const { return error_; }
  int Format() const { return format_; }
  int TrackCount() const { return trackCount_; }
  int Division() const { return division_; }
  // Tempo changes found (meta event 0x51), in all tracks.
  size_t TempoChangeCount() const { return tempoCount_; }
  // When the longest track ends: the latest End of Track (meta event 0x2F),
  // or for a track without one, its last event. A piece may end in silence
  // well after its last note.
  uint64_t EndTimeUs() const { return endTimeUs_; }

 private:
  struct TimedMessage {
    uint64_t tick;
    uint32_t track;
    uint32_t message;
  };
  struct TempoChange {
    uint64_t tick;
    uint32_t track;
    uint32_t microsecondsPerQuarter;
  };

  bool ParseTrack(const uint8_t* data, size_t size, size_t fileOffset, uint32_t track);
  bool Fail(const std::string& text);
  void PlaceInTime();
  // The time of a tick through the tempo map (tempos_ sorted).
  uint64_t TimeUsOf(uint64_t tick) const;

  std::vector<MidiEvent> events_;
  std::vector<TimedMessage> messages_;
  std::vector<TempoChange> tempos_;
  std::string error_;
  int format_ = 0;
  int trackCount_ = 0;
  int division_ = 0;
  size_t tempoCount_ = 0;
  uint64_t endTick_ = 0;
  uint64_t endTimeUs_ = 0;
};
