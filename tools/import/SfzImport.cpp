#include "tools/import/SfzImport.h"

bool LooksLikeSfz(const uint8_t*, size_t) { return false; }

bool ImportSfz(const uint8_t*, size_t, const ImportOptions&, std::vector<ImportInstrument>*,
               std::vector<std::string>*, std::string* error) {
  *error = "SFZ is not read yet";
  return false;
}
