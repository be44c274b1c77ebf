// The rate conversion for devices that do not run at 44100: libsamplerate
// against libsoxr at their quality settings, fed as the wave output feeds its
// converter (64 input frames at a time, 256 output frames a period).
//
// Counters: "per_frame", CPU time per stereo output frame; "error_dB", the
// largest residual over sines at 438.67 Hz (the default tone), 5, 15 and
// 19 kHz after a least-squares fit of the sine, relative to the sine (the
// converter's own error: the inputs are not quantised); "heap_calls",
// allocations and frees during 2000 periods (about ten seconds at 48000) of
// steady conversion after 50 to settle, counted by this program's own malloc
// and free. The wave output's callback needs heap_calls 0, always.
#include <benchmark/benchmark.h>
#include <samplerate.h>
#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
}

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_heapCalls{0};
}  // namespace

extern "C" {
void* malloc(size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_heapCalls;
  return __libc_malloc(size);
}
void free(void* block) {
  if (block && g_counting.load(std::memory_order_relaxed)) ++g_heapCalls;
  __libc_free(block);
}
void* calloc(size_t count, size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_heapCalls;
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_heapCalls;
  return __libc_realloc(block, size);
}
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInputRate = 44100;
constexpr long kChunk = 64;
constexpr long kPeriod = 256;

// A stereo sine at 44100, both channels alike.
struct Sine {
  double hz;
  long at = 0;
  void Fill(float* frames, long count) {
    for (long i = 0; i < count; ++i, ++at)
      frames[2 * i] = frames[2 * i + 1] =
          float(0.5 * std::sin(2 * kPi * hz * double(at) / kInputRate));
  }
};

class Converter {
 public:
  virtual ~Converter() = default;
  // count output frames into out (interleaved stereo).
  virtual void Read(float* out, long count) = 0;
};

class Samplerate : public Converter {
 public:
  Samplerate(int type, double outputRate, Sine& source)
      : source_(source), ratio_(outputRate / kInputRate) {
    int error = 0;
    state_ = src_callback_new(&Samplerate::Input, type, 2, &error, this);
  }
  ~Samplerate() override { src_delete(state_); }
  void Read(float* out, long count) override {
    while (count > 0) {
      long made = src_callback_read(state_, ratio_, count, out);
      if (made <= 0) break;
      out += 2 * made;
      count -= made;
    }
  }

 private:
  static long Input(void* self, float** data) {
    auto* converter = static_cast<Samplerate*>(self);
    converter->source_.Fill(converter->input_, kChunk);
    *data = converter->input_;
    return kChunk;
  }
  Sine& source_;
  double ratio_;
  SRC_STATE* state_ = nullptr;
  float input_[2 * kChunk];
};

class Soxr : public Converter {
 public:
  Soxr(unsigned long recipe, double outputRate, Sine& source) : source_(source) {
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
    soxr_ = soxr_create(kInputRate, outputRate, 2, &error, &io, &quality, nullptr);
  }
  ~Soxr() override { soxr_delete(soxr_); }
  void Read(float* out, long count) override {
    while (count > 0) {
      if (left_ == 0) {
        source_.Fill(input_, kChunk);
        left_ = kChunk;
      }
      size_t used = 0, made = 0;
      soxr_process(soxr_, input_ + 2 * (kChunk - left_), size_t(left_), &used, out, size_t(count),
                   &made);
      left_ -= long(used);
      out += 2 * made;
      count -= long(made);
    }
  }

 private:
  Sine& source_;
  soxr_t soxr_ = nullptr;
  float input_[2 * kChunk];
  long left_ = 0;
};

std::unique_ptr<Converter> Make(int which, double outputRate, Sine& source) {
  switch (which) {
    case 0:
      return std::make_unique<Samplerate>(SRC_SINC_FASTEST, outputRate, source);
    case 1:
      return std::make_unique<Samplerate>(SRC_SINC_MEDIUM_QUALITY, outputRate, source);
    case 2:
      return std::make_unique<Samplerate>(SRC_SINC_BEST_QUALITY, outputRate, source);
    case 3:
      return std::make_unique<Soxr>(SOXR_LQ, outputRate, source);
    case 4:
      return std::make_unique<Soxr>(SOXR_MQ, outputRate, source);
    case 5:
      return std::make_unique<Soxr>(SOXR_HQ, outputRate, source);
    default:
      return std::make_unique<Soxr>(SOXR_VHQ, outputRate, source);
  }
}

const char* const kNames[] = {"samplerate_fastest",
                              "samplerate_medium",
                              "samplerate_best",
                              "soxr_lq",
                              "soxr_mq",
                              "soxr_hq",
                              "soxr_vhq"};

// What remains of one second of output after the best fit of the sine, over
// its middle half, in dB relative to the sine.
double ResidualDb(int which, double outputRate, double hz) {
  Sine source{hz};
  std::unique_ptr<Converter> converter = Make(which, outputRate, source);
  const long frames = long(outputRate);
  std::vector<float> out(2 * frames);
  for (long at = 0; at < frames; at += kPeriod)
    converter->Read(&out[2 * at], std::min(kPeriod, frames - at));
  double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
  for (long i = frames / 4; i < frames * 3 / 4; ++i) {
    const double w = 2 * kPi * hz * double(i) / outputRate, s = std::sin(w), c = std::cos(w);
    ss += s * s, cc += c * c, sc += s * c, ys += out[2 * i] * s, yc += out[2 * i] * c;
  }
  const double det = ss * cc - sc * sc, a = (ys * cc - yc * sc) / det,
               b = (yc * ss - ys * sc) / det;
  double signal = 0, residual = 0;
  for (long i = frames / 4; i < frames * 3 / 4; ++i) {
    const double w = 2 * kPi * hz * double(i) / outputRate;
    const double fit = a * std::sin(w) + b * std::cos(w);
    signal += fit * fit;
    residual += (out[2 * i] - fit) * (out[2 * i] - fit);
  }
  return 10 * std::log10(residual / signal);
}

void BM_Resample(benchmark::State& state) {
  const int which = int(state.range(0));
  const double outputRate = double(state.range(1));
  state.SetLabel(kNames[which]);

  double worst = -1000;
  for (double hz : {438.67, 5000.0, 15000.0, 19000.0})
    worst = std::max(worst, ResidualDb(which, outputRate, hz));

  Sine source{438.67};
  std::unique_ptr<Converter> converter = Make(which, outputRate, source);
  std::vector<float> out(2 * kPeriod);
  for (int i = 0; i < 50; ++i) converter->Read(out.data(), kPeriod);  // warm up
  g_heapCalls = 0;
  g_counting = true;
  for (int i = 0; i < 2000; ++i) converter->Read(out.data(), kPeriod);
  g_counting = false;
  const long heapCalls = g_heapCalls.load();

  for (auto _ : state) {
    converter->Read(out.data(), kPeriod);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["per_frame"] = benchmark::Counter(
      double(kPeriod), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["error_dB"] = worst;
  state.counters["heap_calls"] = double(heapCalls);
}

BENCHMARK(BM_Resample)->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {48000, 96000}});

}  // namespace

BENCHMARK_MAIN();
