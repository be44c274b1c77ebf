// Parses SFZ text into regions, each with every opcode it inherits: the
// headers <control>, <global>, <master>, <group> and <region>, each level
// giving defaults to those below it; #define variables ($NAME) and
// #include files (relative to the kit's folder); // and /* */ comments.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

struct SfzRegion {
  std::map<std::string, std::string> opcodes;
  std::string defaultPath;  // <control>'s default_path, as written
};

struct SfzKit {
  std::vector<SfzRegion> regions;
  std::vector<std::string> otherHeaders;  // headers read past (<curve>, <effect>, ...)
};

// Reads an #include's file; false when it cannot be read.
using SfzIncludeReader = std::function<bool(const std::string& path, std::string* text)>;

// False with *error set for an #include that cannot be read or nests too
// deep.
bool ParseSfz(const std::string& text, const SfzIncludeReader& readInclude, SfzKit* kit,
              std::string* error);

// A key from a number or a note name ("c4" is 60, "c#4" and "db4" 61);
// -1 when it is neither.
int SfzKey(const std::string& value);
