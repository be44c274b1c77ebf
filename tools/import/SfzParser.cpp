#include "tools/import/SfzParser.h"

#include <cctype>
#include <cstdlib>

namespace {

enum Level { kControl, kGlobal, kMaster, kGroup, kRegion, kOther };

struct State {
  std::map<std::string, std::string> defines;
  std::map<std::string, std::string> levels[4];  // control, global, master, group
  // The region being read: the last one, until the next header (which may
  // add one and so move the others).
  std::map<std::string, std::string>* region = nullptr;
  Level level = kGlobal;
  SfzKit* kit = nullptr;
};

std::string StripComments(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n') ++i;
      out += '\n';
    } else if (text[i] == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      i += 2;
      while (i + 1 < text.size() && !(text[i] == '*' && text[i + 1] == '/')) {
        if (text[i] == '\n') out += '\n';
        ++i;
      }
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Substitute(const std::string& line, const std::map<std::string, std::string>& defines) {
  if (line.find('$') == std::string::npos) return line;
  std::string out;
  for (size_t i = 0; i < line.size();) {
    if (line[i] == '$') {
      size_t j = i + 1;
      while (j < line.size() &&
             (std::isalnum(static_cast<unsigned char>(line[j])) || line[j] == '_'))
        ++j;
      // The longest defined name that the text begins with.
      bool replaced = false;
      for (size_t k = j; k > i + 1; --k) {
        auto found = defines.find(line.substr(i + 1, k - i - 1));
        if (found != defines.end()) {
          out += found->second;
          i = k;
          replaced = true;
          break;
        }
      }
      if (replaced) continue;
    }
    out += line[i++];
  }
  return out;
}

void StartHeader(const std::string& name, State* state) {
  Level level = kOther;
  if (name == "control") level = kControl;
  if (name == "global") level = kGlobal;
  if (name == "master") level = kMaster;
  if (name == "group") level = kGroup;
  if (name == "region") level = kRegion;
  state->region = nullptr;
  state->level = level;
  switch (level) {
    case kControl:
      state->levels[kControl].clear();
      break;
    case kGlobal:
      for (int l = kGlobal; l <= kGroup; ++l) state->levels[l].clear();
      break;
    case kMaster:
      state->levels[kMaster].clear();
      state->levels[kGroup].clear();
      break;
    case kGroup:
      state->levels[kGroup].clear();
      break;
    case kRegion: {
      SfzRegion region;
      for (int l = kGlobal; l <= kGroup; ++l)
        for (const auto& [key, value] : state->levels[l]) region.opcodes[key] = value;
      auto path = state->levels[kControl].find("default_path");
      if (path != state->levels[kControl].end()) region.defaultPath = path->second;
      state->kit->regions.push_back(std::move(region));
      state->region = &state->kit->regions.back().opcodes;
      break;
    }
    case kOther:
      state->kit->otherHeaders.push_back("<" + name + ">");
      break;
  }
}

void SetOpcode(const std::string& key, const std::string& value, State* state) {
  if (state->level == kOther) return;
  if (state->level == kRegion) {
    if (state->region) (*state->region)[key] = value;
    return;
  }
  state->levels[state->level][key] = value;
}

bool IsOpcodeStart(const std::string& line, size_t at) {
  size_t j = at;
  while (j < line.size() && (std::isalnum(static_cast<unsigned char>(line[j])) || line[j] == '_'))
    ++j;
  return j > at && j < line.size() && line[j] == '=';
}

bool ParseText(const std::string& raw, const SfzIncludeReader& readInclude, int depth, State* state,
               std::string* error) {
  const std::string text = StripComments(raw);
  size_t lineStart = 0;
  while (lineStart <= text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    std::string line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    if (line.compare(first, 7, "#define") == 0) {
      size_t name = line.find('$', first);
      if (name == std::string::npos) continue;
      size_t nameEnd = line.find_first_of(" \t", name);
      if (nameEnd == std::string::npos) continue;
      size_t value = line.find_first_not_of(" \t", nameEnd);
      std::string v = value == std::string::npos ? "" : line.substr(value);
      while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.pop_back();
      state->defines[line.substr(name + 1, nameEnd - name - 1)] = v;
      continue;
    }
    line = Substitute(line, state->defines);
    if (line.compare(first, 8, "#include") == 0) {
      const size_t open = line.find('"', first);
      const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
      if (close == std::string::npos) continue;
      const std::string path = line.substr(open + 1, close - open - 1);
      if (depth >= 16) {
        *error = "#include \"" + path + "\" nests more than 16 deep";
        return false;
      }
      std::string included;
      if (!readInclude(path, &included)) {
        *error = "cannot read the included file '" + path + "'";
        return false;
      }
      if (!ParseText(included, readInclude, depth + 1, state, error)) return false;
      continue;
    }
    size_t i = first;
    while (i < line.size()) {
      const char c = line[i];
      if (c == ' ' || c == '\t') {
        ++i;
      } else if (c == '<') {
        const size_t close = line.find('>', i);
        if (close == std::string::npos) break;
        StartHeader(line.substr(i + 1, close - i - 1), state);
        i = close + 1;
      } else if (IsOpcodeStart(line, i)) {
        const size_t equals = line.find('=', i);
        const std::string key = line.substr(i, equals - i);
        // A value runs to the next opcode or header: sample names may hold
        // blanks.
        size_t end = equals + 1;
        while (end < line.size()) {
          if ((line[end] == ' ' || line[end] == '\t') && end + 1 < line.size() &&
              (line[end + 1] == '<' || IsOpcodeStart(line, end + 1)))
            break;
          if (line[end] == '<') break;
          ++end;
        }
        std::string value = line.substr(equals + 1, end - equals - 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        SetOpcode(key, value, state);
        i = end;
      } else {
        // Not an opcode: skip the word.
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
      }
    }
  }
  return true;
}

}  // namespace

bool ParseSfz(const std::string& text, const SfzIncludeReader& readInclude, SfzKit* kit,
              std::string* error) {
  State state;
  state.kit = kit;
  return ParseText(text, readInclude, 0, &state, error);
}

int SfzKey(const std::string& value) {
  if (value.empty()) return -1;
  char* end = nullptr;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (*end == '\0') return number >= 0 && number <= 127 ? static_cast<int>(number) : -1;
  static const int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
  const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(value[0])));
  if (letter < 'a' || letter > 'g') return -1;
  int key = kSemitone[letter - 'a'];
  size_t i = 1;
  if (i < value.size() && value[i] == '#')
    key += 1, ++i;
  else if (i < value.size() && value[i] == 'b')
    key -= 1, ++i;
  const long octave = std::strtol(value.c_str() + i, &end, 10);
  if (end == value.c_str() + i || *end != '\0') return -1;
  if (octave < -1 || octave > 10) return -1;  // also keeps a huge octave from overflowing
  const long result = (octave + 1) * 12 + key;
  return result >= 0 && result <= 127 ? static_cast<int>(result) : -1;
}
