#include "tools/import/ImportCommand.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "tools/ProgressBar.h"
#include "tools/import/ImportReport.h"
#include "tools/import/OutputFolder.h"
#include "tools/import/SetWriter.h"
#include "tools/import/Sf2Reader.h"
#include "tools/import/SfzImport.h"
#include "tools/import/SoundFontImport.h"

namespace {

constexpr uint64_t kMaxSourceBytes = 4ull << 30;

int Fail(const std::string& text) {
  std::fprintf(stderr, "pelvane-import: error: %s\n", text.c_str());
  return 1;
}

bool ReadSource(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (code) {
    *error = "cannot open '" + path + "': " + code.message();
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    *error = "'" + path + "' is not a regular file";
    return false;
  }
  const uint64_t size = std::filesystem::file_size(path, code);
  if (code || size > kMaxSourceBytes) {
    *error = "'" + path + "' is larger than 4 GiB";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  bytes->resize(static_cast<size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(size))) {
    *error = "cannot read '" + path + "'";
    return false;
  }
  return true;
}

}  // namespace

int RunImportCommand(const ImportOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadSource(options.source, &bytes, &error)) return Fail(error);

  std::vector<ImportInstrument> instruments;
  std::string kind;
  std::string title;
  std::vector<std::string> notes;
  const bool terminal = isatty(STDERR_FILENO) == 1;
  std::unique_ptr<ProgressBar> bar;
  if (terminal) bar = std::make_unique<ProgressBar>(stderr);
  if (sf2::LooksLikeSoundFont(bytes.data(), bytes.size())) {
    std::string fontName;
    if (!ImportSoundFont(bytes.data(), bytes.size(), options, &instruments, &fontName, &error,
                         [&](size_t done, size_t all) {
                           if (bar) bar->Update(done, 2 * all);
                         }))
      return Fail("'" + options.source + "': " + error);
    kind = "SoundFont";
    title = "imported from " + options.source + (fontName.empty() ? "" : " (" + fontName + ")");
  } else if (LooksLikeSfz(bytes.data(), bytes.size())) {
    if (!ImportSfz(bytes.data(), bytes.size(), options, &instruments, &notes, &error))
      return Fail("'" + options.source + "': " + error);
    kind = "SFZ";
    title = "imported from " + options.source;
  } else {
    return Fail("'" + options.source + "' is neither a SoundFont (RIFF sfbk) nor an SFZ kit");
  }
  if (instruments.empty()) return Fail("'" + options.source + "' holds no instrument to import");

  OutputFolder folder;
  if (!folder.Open(options.outdir, options.force, &error)) return Fail(error);
  SetWriter writer(folder.Path(), options.maxSeconds);
  for (size_t i = 0; i < instruments.size(); ++i) {
    if (!writer.Add(instruments[i], &error)) return Fail(error);
    // The samples' memory goes as soon as their files are written.
    instruments[i] = ImportInstrument();
    if (bar) bar->Update(instruments.size() + i + 1, 2 * instruments.size());
  }
  if (!writer.Finish(title, &error)) return Fail(error);
  {
    const std::string report = ImportReportText(options, kind, notes, writer);
    std::ofstream out(folder.Path() + "/import-report.txt", std::ios::binary);
    out << report;
    if (!out.flush()) return Fail("cannot write import-report.txt");
  }
  if (!folder.Commit(&error)) return Fail(error);
  const SetTotals& totals = writer.Totals();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "Imported %zu instruments (%zu sample blocks, %zu zones dropped) into %s: %zu WAV files, "
      "%.1f MB, in %.1f s; see import-report.txt\n",
      totals.instruments, totals.blocks, totals.dropped, options.outdir.c_str(), totals.files,
      static_cast<double>(totals.bytes) / 1e6, seconds);
  return 0;
}
