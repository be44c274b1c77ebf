#include "tools/import/ImportReport.h"

#include <cstdio>

std::string ImportReportText(const ImportOptions& options, const std::string& sourceKind,
                             const std::vector<std::string>& sourceNotes, const SetWriter& writer) {
  std::string text =
      std::string(kImportVersion) + ": " + options.source + " (" + sourceKind + ")\n";
  char line[256];
  std::snprintf(line, sizeof line, "Options: --bank %d --drums %s --velocity %d --max-seconds %g\n",
                options.bank, options.drums < 0 ? "none" : std::to_string(options.drums).c_str(),
                options.velocity, options.maxSeconds);
  text += line;
  for (const std::string& note : sourceNotes) text += note + "\n";
  const SetTotals& totals = writer.Totals();
  std::snprintf(line, sizeof line,
                "%zu instruments, %zu sample blocks, %zu zones dropped, %zu WAV files (%.1f MB)\n",
                totals.instruments, totals.blocks, totals.dropped, totals.files,
                static_cast<double>(totals.bytes) / 1e6);
  text += line;
  text +=
      "The engine's gain follows velocity linearly (velocity 64 plays 6 dB below 127), where "
      "a SoundFont assumes a curve; only the layer at --velocity is kept.\n";
  for (const WrittenInstrument& instrument : writer.Instruments()) {
    std::snprintf(line, sizeof line, "\n%s: %zu kept, %zu dropped\n", instrument.header.c_str(),
                  instrument.kept.size(), instrument.dropped.size());
    text += line;
    for (const std::string& kept : instrument.kept) text += "  kept: " + kept + "\n";
    for (const std::string& dropped : instrument.dropped) text += "  dropped: " + dropped + "\n";
    for (const std::string& note : instrument.approximations)
      text += "  approximation: " + note + "\n";
  }
  return text;
}
