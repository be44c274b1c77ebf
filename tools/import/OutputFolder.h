// The folder an import writes into: a fresh temporary folder beside (or,
// when OUTDIR exists, inside) OUTDIR, moved into place only when every file
// is whole, so that a failed import leaves nothing half-written and an
// existing instrument set is replaced only when asked.
#pragma once
#include <string>

class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();  // removes the temporary folder unless committed
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Checks OUTDIR (a folder or nothing; no default.pvi unless force) and
  // makes the temporary folder. False with *error set to one line.
  bool Open(const std::string& outdir, bool force, std::string* error);
  const std::string& Path() const { return temp_; }
  // Moves the files into OUTDIR, default.pvi last.
  bool Commit(std::string* error);

 private:
  std::string outdir_;
  std::string temp_;
  bool existed_ = false;
};
