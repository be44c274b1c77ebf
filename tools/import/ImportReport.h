// import-report.txt: the source and options, then per instrument the
// sample blocks written, the zones dropped and why, and every
// approximation made.
#pragma once
#include <string>
#include <vector>

#include "tools/import/ImportOptions.h"
#include "tools/import/SetWriter.h"

std::string ImportReportText(const ImportOptions& options, const std::string& sourceKind,
                             const std::vector<std::string>& sourceNotes, const SetWriter& writer);
