#include "engine/Voice.h"

#include <climits>

#include "engine/MixFrame.h"
#include "engine/MixKernels.h"
#include "engine/PitchTable.h"

Voice::Voice(int32_t noteNumber, int32_t channelNumber, int32_t noteVelocity, int32_t channelVolume,
             Instrument* played)
    : note(noteNumber),
      channel(channelNumber),
      velocity(noteVelocity),
      volume(channelVolume),
      instrument(played),
      sample(played->SampleForNote(noteNumber)),
      envelope(sample ? sample->level : 0) {}

namespace {

// The velocity a release fade of `frames` frames allows at this counter:
// (counter x 128) / frames, truncated toward zero. For 2048 frames that is
// exactly counter / 16, so a sample without a release time of its own fades
// as every voice always has.
inline int32_t FadeLevel(int32_t counter, int32_t frames) {
  return static_cast<int32_t>(int64_t{counter} * 128 / frames);
}

// The frames of the sample's loop, in 64 bits: positions are folded after
// they are computed, and an unfolded position may come near INT32_MAX.
struct Loop {
  explicit Loop(const Sample& s)
      : start(s.loopStart), end(s.loopEnd), length(int64_t{s.loopEnd} - s.loopStart + 1) {}
  // A position past the loop's end reads the frame as many whole loops back
  // as bring it into the loop.
  int32_t Fold(int64_t p) const {
    return static_cast<int32_t>(p > end ? start + (p - start) % length : p);
  }
  int64_t start, end, length;
};

// The same fold for positions of 32 bits, without a division per frame: the
// laps q / length from a product with the length's reciprocal. Its error is
// below 2^-21 / length, less than the distance of q / length from the next
// integer above, so the truncated product is the true quotient or one less,
// and one subtraction mends the latter.
struct QuickLoop {
  explicit QuickLoop(const Loop& loop)
      : start(static_cast<int32_t>(loop.start)),
        end(static_cast<int32_t>(loop.end)),
        length(static_cast<int32_t>(loop.length)),
        inverse(1.0 / static_cast<double>(loop.length)) {}
  int32_t Fold(int32_t p) const {
    if (p <= end) return p;
    const int32_t q = p - start;
    int32_t rest = q - static_cast<int32_t>(static_cast<double>(q) * inverse) * length;
    if (rest >= length) rest -= length;
    return start + rest;
  }
  int32_t start, end, length;
  double inverse;
};

// Loops shorter than this many frames per group of eight output frames of
// the offset table are folded frame by frame: their runs between two wraps
// are too short to be worth a kernel call each.
constexpr int64_t kShortLoopPerGroup = 4;

// The voice's rate in frames of its sample per second of output.
inline double SpeedOf(const Sample& s, int32_t note) {
  // A rate below zero would walk backwards out of the sample: it holds its
  // first frame, like a rate of zero. Distances beyond the pitch table use its
  // nearest entry.
  const double rate = s.rate > 0 ? static_cast<double>(s.rate) : 0.0;
  return rate * PitchFactor(static_cast<int64_t>(note) - s.baseNote);
}

// The level of a shaped voice as the scale its frames are mixed with: the
// gain's scale (gain x 256) times the envelope's level, 2^30 being full,
// truncated; 0..65535.
inline int32_t ShapedScale(int32_t gain, int64_t level) {
  if (gain <= 0 || level <= 0) return 0;
  const int64_t scale = (int64_t{gain} * (level >> 14)) >> 8;
  return scale > 65535 ? 65535 : static_cast<int32_t>(scale);
}

// Frames from .. to - 1 of a call, piece by piece: mix(first, end, scale)
// for each stretch within one piece whose scale is not 0.
template <class MixStretch>
inline void ForEachPiece(int32_t from, int32_t to, const int32_t* scales, MixStretch mix) {
  while (from < to) {
    const int32_t piece = from / SAMPLE_SHAPE_PIECE;
    const int32_t end =
        (piece + 1) * SAMPLE_SHAPE_PIECE < to ? (piece + 1) * SAMPLE_SHAPE_PIECE : to;
    if (scales[piece] != 0) mix(from, end, scales[piece]);
    from = end;
  }
}

}  // namespace

void Voice::Mix::Table(int16_t* buffer, const Sample& s, int32_t start, const OffsetTable& table,
                       int32_t first, int32_t count) const noexcept {
  if (!scales) {
    MixByTable(buffer, s.left, s.right, s.length, start, table, first, count, value);
    return;
  }
  // The pieces' bounds are whole groups of the table.
  ForEachPiece(first, count, scales, [&](int32_t from, int32_t to, int32_t scale) {
    MixByTableScaled(buffer, s.left, s.right, s.length, start, table, from, to, scale);
  });
}

void Voice::Mix::Positions(int16_t* buffer, const Sample& s, const int32_t* at, int32_t frame,
                           int32_t count) const noexcept {
  if (!scales) {
    MixByPositions(buffer, s.left, s.right, at, count, value);
    return;
  }
  ForEachPiece(frame, frame + count, scales, [&](int32_t from, int32_t to, int32_t scale) {
    const int32_t i = from - frame;
    MixByPositionsScaled(buffer + 2 * i, s.left, s.right, at + i, to - from, scale);
  });
}

void Voice::Render(int16_t* buffer, int32_t frameCount) noexcept {
  if (frameCount <= 0) return;
  const Sample& s = *sample;
  const double speed = SpeedOf(s, note);
  if (!s.Shaped()) {
    RenderCall(buffer, frameCount, Mix{(volume * velocity) / 128, nullptr}, speed);
    if (s.exactPitch) CarryFraction(frameCount, speed);
    return;
  }
  // A shaped voice: calls of up to 1024 frames, each played as any voice
  // plays a call, at a scale taken anew at every piece of the call: the
  // envelope's level as the piece begins (decaying while the note sounds;
  // a release fades from where it stands) times the gain of the velocity
  // the fade has left by then.
  const int32_t releaseFrames = s.releaseFrames > 0 ? s.releaseFrames : VOICE_RELEASE_FRAMES;
  for (int32_t done = 0; done < frameCount && state != VOICE_FINISHED;) {
    const int32_t n =
        frameCount - done < OffsetTable::kFrames ? frameCount - done : OffsetTable::kFrames;
    const bool releasing = state == VOICE_RELEASING;
    int32_t scales[OffsetTable::kFrames / SAMPLE_SHAPE_PIECE];
    int32_t count = n;  // the frames before the voice falls silent, if it does
    int32_t loudest = 0;
    for (int32_t k = 0; k * SAMPLE_SHAPE_PIECE < n; ++k) {
      const int32_t frame = k * SAMPLE_SHAPE_PIECE;
      if (s.decayStart >= 0 && elapsed + frame >= s.decayStart && !releasing) {
        envelope = (envelope * s.decayFactor) >> 30;
        if (envelope < s.sustainLevel) envelope = s.sustainLevel;
        // Fallen below the level of silence, where it will stay: the end.
        if (envelope < SAMPLE_SILENT_LEVEL && s.sustainLevel < SAMPLE_SILENT_LEVEL) {
          count = frame;
          break;
        }
      }
      int32_t heard = velocity;
      if (releasing && frame > 0) {
        const int32_t level = FadeLevel(releaseCounter - frame, releaseFrames);
        if (level < heard) heard = level;
      }
      scales[k] = ShapedScale((volume * heard) / 128, envelope);
      if (scales[k] > loudest) loudest = scales[k];
    }
    if (count > 0) RenderCall(buffer + 2 * done, count, Mix{loudest, scales}, speed);
    if (count < n) {
      state = VOICE_FINISHED;
      break;
    }
    CarryFraction(n, speed);
    elapsed += n;
    done += n;
  }
}

void Voice::CarryFraction(int32_t frameCount, double speed) noexcept {
  if (state == VOICE_FINISHED) return;
  const double exact = speed * static_cast<double>(frameCount) * kOneOverOutputRate;
  if (!(exact < 0x1p62)) return;
  fraction += exact - static_cast<double>(static_cast<int64_t>(exact));
  if (fraction < 1.0) return;
  fraction -= 1.0;
  if (position == INT32_MAX) return;
  position += 1;
  // A looping voice's position lies in the loop: one past its end is its start.
  if (InLoop() && position > sample->loopEnd) position = sample->loopStart;
}

// Equivalent to mixing frame by frame (check the end, mix, step the fade,
// advance), but split so the hot loop has no branches: the frames that play
// are found first (those before the fade's end whose position start + T(i)
// lies inside the sample), then mixed, and the fade is applied in closed form.
// This works because positions never decrease (rounded products are
// monotonic) and the fade's effect on the velocity within a call is
// min(velocity, ((counter - k) x 128) / N) after k frames, N the sample's
// release frames (for 2048, (counter - k) / 16). The offsets T(i) come from
// the voice's table in a 1024-frame call and are computed, exactly alike,
// chunk by chunk in any other.
void Voice::RenderCall(int16_t* buffer, int32_t frameCount, const Mix& mix, double speed) noexcept {
  const Sample* s = sample;
  const int32_t start = position;
  const int32_t length = s->length;
  const int32_t releaseFrames = s->releaseFrames > 0 ? s->releaseFrames : VOICE_RELEASE_FRAMES;
  const bool looping = InLoop();

  // Frames this call may mix, the one that ends the fade included.
  int32_t limit = frameCount;
  bool fadeEnds = false;
  const bool releasing = state == VOICE_RELEASING;
  if (releasing) {
    // The velocity reaches 0 at the first frame j (from 1) where the counter
    // minus j drops below the least counter of level 1, the frames / 128
    // rounded up (16 for 2048 frames); at once when it is not positive.
    const int64_t levelOne = (int64_t{releaseFrames} + 127) / 128;
    const int64_t toZero = releaseCounter - levelOne + 1;
    const int64_t fadeFrames = velocity <= 0 ? 1 : (toZero > 1 ? toZero : 1);
    if (fadeFrames <= frameCount) {
      limit = static_cast<int32_t>(fadeFrames);
      fadeEnds = true;
    }
  }
  // Offsets grow with the frame index: when the largest fits, all do.
  if (!(speed * static_cast<double>(limit) * kOneOverOutputRate <
        static_cast<double>(INT32_MAX) - start)) {
    RenderFrameByFrame(buffer, frameCount, speed, mix, looping);
    return;
  }

  if (looping) {
    // Every frame reads inside the loop, so the sample's end never comes:
    // only the fade ends the voice.
    if (mix.value != 0) MixLooped(buffer, start, limit, ByTable(frameCount, mix), speed, mix);
    if (releasing) {
      releaseCounter -= limit;
      const int32_t level = FadeLevel(releaseCounter, releaseFrames);
      if (level < velocity) velocity = level;
    }
    const Loop loop(*s);
    if (fadeEnds) {
      position = loop.Fold(int64_t{start} + OffsetAt(speed, limit - 1));
      velocity = 0;
      state = VOICE_FINISHED;
    } else {
      position = loop.Fold(int64_t{start} + OffsetAt(speed, frameCount));
    }
    return;
  }

  int32_t mixed = 0;
  int32_t endPosition = -1;  // where the sample end was met, if it was
  if (ByTable(frameCount, mix) && (offsets_.speed == speed || offsets_.Build(speed)) &&
      offsets_.usable) {
    mixed = offsets_.FramesBefore(start, length, limit);
    if (mixed < limit) endPosition = start + offsets_.Offset(mixed);
    // A gain of 0 adds 0 to every value: nothing to mix.
    if (mix.value != 0) mix.Table(buffer, *s, start, offsets_, 0, mixed);
  } else {
    constexpr int32_t kChunk = 256;
    int32_t at[kChunk];
    while (mixed < limit) {
      const int32_t n = limit - mixed < kChunk ? limit - mixed : kChunk;
      Offsets(at, mixed, n, start, speed);
      int32_t count = n;
      if (at[n - 1] >= length) {
        count = 0;
        while (at[count] < length) ++count;
        endPosition = at[count];
      }
      if (mix.value != 0) mix.Positions(buffer + 2 * mixed, *s, at, mixed, count);
      mixed += count;
      if (endPosition >= 0) break;
    }
  }

  if (releasing && mixed > 0) {
    releaseCounter -= mixed;
    const int32_t level = FadeLevel(releaseCounter, releaseFrames);
    if (level < velocity) velocity = level;
  }
  if (endPosition >= 0) {
    position = endPosition;
    state = VOICE_FINISHED;
  } else if (fadeEnds) {
    // The last frame was mixed; the position is not advanced past it.
    position = start + OffsetAt(speed, limit - 1);
    velocity = 0;
    state = VOICE_FINISHED;
  } else {
    position = start + OffsetAt(speed, frameCount);
  }
}

void Voice::RenderFrameByFrame(int16_t* buffer, int32_t frameCount, double speed, const Mix& mix,
                               bool looping) noexcept {
  const Sample* s = sample;
  const int32_t start = position;
  const int32_t releaseFrames = s->releaseFrames > 0 ? s->releaseFrames : VOICE_RELEASE_FRAMES;
  const Loop loop(*s);
  // The largest offset from start that still fits the position's 32 bits.
  const double maxOffset = static_cast<double>(INT32_MAX) - start;
  for (int32_t i = 0; i < frameCount; ++i) {
    if (!looping && position >= s->length) {
      state = VOICE_FINISHED;
      return;
    }
    int16_t* frame = buffer + 2 * i;
    if (mix.scales)
      MixFrameScaled(frame, s->left, s->right, position, mix.scales[i / SAMPLE_SHAPE_PIECE]);
    else
      MixFrame(frame, s->left, s->right, position, mix.value);

    if (state == VOICE_RELEASING) {
      releaseCounter -= 1;
      const int32_t level = FadeLevel(releaseCounter, releaseFrames);
      if (level < velocity) velocity = level;
      if (velocity <= 0) {
        velocity = 0;
        state = VOICE_FINISHED;
        return;
      }
    }

    // Always from the call's starting position, so rounding does not
    // accumulate within a call; evaluated left to right exactly as written.
    const double offset = speed * static_cast<double>(i + 1) * kOneOverOutputRate;
    if (looping)
      // Folded at once, so even an offset beyond 32 bits lands in the loop.
      position =
          loop.Fold(start + (offset < 0x1p62 ? static_cast<int64_t>(offset) : int64_t{1} << 62));
    else
      position = offset < maxOffset ? start + static_cast<int32_t>(offset) : INT32_MAX;
  }
}

// A call's positions, folded, fall into runs between two wraps of the loop
// (between two laps); within one run every frame reads its unfolded position
// less a whole number of loops, which is what the kernels mix from the offset
// table with the start moved back by those loops. So the vector kernels mix a
// looping voice too: whole groups of eight frames run by run, and the group
// in which a wrap falls frame by frame folded, through the positions kernel.
void Voice::MixLooped(int16_t* buffer, int32_t start, int32_t count, bool byTable, double speed,
                      const Mix& mix) noexcept {
  const Sample* s = sample;
  const Loop loop(*s);
  const QuickLoop quick(loop);
  int32_t at[OffsetTable::kGroup];
  int32_t mixed = 0;
  if (byTable && (offsets_.speed == speed || offsets_.Build(speed)) && offsets_.usable &&
      loop.length >= kShortLoopPerGroup * (offsets_.span + 1)) {
    const int32_t groups = count / OffsetTable::kGroup;
    int32_t g = 0;
    while (g < groups) {
      // The lap of the group's first frame, and where the next lap begins.
      const int64_t first = int64_t{start} + offsets_.base[g];
      const int64_t lap = first > loop.end ? (first - loop.start) / loop.length : 0;
      const int64_t next = loop.start + (lap + 1) * loop.length;
      // The groups whose last frame still lies before it (offsets never
      // decrease): the first group reaching it, by bisection.
      int32_t low = g - 1;    // reaches nothing (or is before g)
      int32_t high = groups;  // reaches the next lap (or is past the end)
      if (start + offsets_.Offset(OffsetTable::kGroup * groups - 1) < next) low = groups - 1;
      while (high - low > 1) {
        const int32_t middle = low + (high - low) / 2;
        if (start + offsets_.Offset(OffsetTable::kGroup * middle + OffsetTable::kGroup - 1) < next)
          low = middle;
        else
          high = middle;
      }
      if (high > g) {
        // Within one lap: less lap whole loops, the positions are in the
        // sample and the kernel's start stays above -2^31.
        const int32_t shifted = static_cast<int32_t>(start - lap * loop.length);
        mix.Table(buffer, *s, shifted, offsets_, OffsetTable::kGroup * g,
                  OffsetTable::kGroup * high);
        g = high;
      } else {
        for (int32_t j = 0; j < OffsetTable::kGroup; ++j)
          at[j] = quick.Fold(start + offsets_.Offset(OffsetTable::kGroup * g + j));
        mix.Positions(buffer + 2 * OffsetTable::kGroup * g, *s, at, OffsetTable::kGroup * g,
                      OffsetTable::kGroup);
        g += 1;
      }
    }
    mixed = OffsetTable::kGroup * groups;
  }
  // Any other call, a short loop, and the frames after the last whole group
  // (when the fade ends within the call): folded frame by frame.
  constexpr int32_t kChunk = 256;
  int32_t chunk[kChunk];
  while (mixed < count) {
    const int32_t n = count - mixed < kChunk ? count - mixed : kChunk;
    Offsets(chunk, mixed, n, start, speed);
    for (int32_t i = 0; i < n; ++i) chunk[i] = quick.Fold(chunk[i]);
    mix.Positions(buffer + 2 * mixed, *s, chunk, mixed, n);
    mixed += n;
  }
}

void Voice::Prefetch() const noexcept {
  __builtin_prefetch(this);
  __builtin_prefetch(offsets_.base);
  __builtin_prefetch(offsets_.delta);
  const Sample* s = sample;
  if (s && position >= 0 && position < s->length) {
    __builtin_prefetch(s->left + position);
    __builtin_prefetch(s->right + position);
  }
}
