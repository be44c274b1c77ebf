// Reading a whole input file into memory, with one clear error text.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// False with *error set ("cannot open: ...", "read error") when the file
// cannot be read whole.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// True when the bytes begin with an SMF header chunk id.
bool LooksLikeSmf(const std::vector<uint8_t>& bytes);
// True when the path ends in ".mid", ".midi" or ".smf" (any case).
bool HasSmfExtension(const std::string& path);
