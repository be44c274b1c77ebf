// Reading WAV files into samples. Both run on the user-interface thread at
// start-up; on any failure the sample is left exactly as it was and one line
// is logged.
#pragma once

class Sample;
class SampleFileCache;

// Checks existence and the ".wav" extension first; with a cache, a path it
// has loaded before is not read again: the frames are shared.
bool LoadFile(Sample& sample, const char* path, SampleFileCache* cache = nullptr);
// Reads the file as a WAV file, whatever its name.
bool LoadWave(Sample& sample, const char* path);
