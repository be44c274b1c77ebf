// Start and Stop of the main window: one Synthesizer per run, built from the
// three device lists' choices.
#include <new>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "synth/DumpFile.h"
#include "synth/Synthesizer.h"

namespace {
// The item data of the list's selected entry; -1 when nothing is selected.
intptr_t SelectedDeviceId(Widgets& widgets, Widget list) {
  int index = widgets.ComboGetSelection(list);
  if (index < 0) return -1;
  return widgets.ComboGetData(list, index);
}
}  // namespace

void MainWindow::StartSynthesizer() {
  // Start is disabled while a synthesizer runs; a stray click must not leak
  // the running one.
  if (synthesizer) return;
  intptr_t waveOutId = SelectedDeviceId(widgets, waveOutList);
  intptr_t midiInId = SelectedDeviceId(widgets, midiInList);
  intptr_t midiEchoId = SelectedDeviceId(widgets, midiEchoList);
  platform::FileHandle dumpFile = CreateDumpFile();
  synthesizer.reset(new (std::nothrow) Synthesizer(static_cast<uint32_t>(waveOutId),
                                                   static_cast<int32_t>(midiInId),
                                                   static_cast<int32_t>(midiEchoId), dumpFile));
  if (!synthesizer) {
    LogMessage("Not enough memory for the synthesizer, it has not been started");
    if (dumpFile != platform::kNoFile) platform::FileClose(dumpFile);
  }
  UpdateControls();
}

void MainWindow::StopSynthesizer() {
  LogMessage("Stopping synthesizer, please wait...");
  // Blocks the user-interface thread until the MidiIn and Mixer threads have
  // ended; their log lines reach the list once the message loop runs again.
  synthesizer.reset();
  UpdateControls();
}
