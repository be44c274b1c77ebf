// Message words as text, for listing an input: time, channel, kind, data.
#pragma once
#include <cstdint>
#include <string>

#include "tools/MidiEvent.h"

// The kind's name: "Note off", "Note on", "Aftertouch", "Control change",
// "Program change", "Channel pressure", "Pitch bend", "System", or "Data" for
// a word whose status byte is below 0x80.
const char* MessageKindName(uint32_t message);

// One line without its line feed, for example
// "     1.500  ch  0  Note on           60 100".
std::string DescribeEvent(const MidiEvent& event);
