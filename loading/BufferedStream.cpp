#include "loading/BufferedStream.h"

#include <cstring>
#include <new>

namespace {

// Lines shorter than this are always found whole without a refill in mid-line.
constexpr int32_t kLineReserve = 1000;

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

BufferedStream::BufferedStream()
    : buffer(new (std::nothrow) char[BUFFERED_STREAM_SIZE + 1]),
      position(BUFFERED_STREAM_SIZE),
      limit(BUFFERED_STREAM_SIZE) {}

BufferedStream::~BufferedStream() {
  delete[] buffer;
  buffer = nullptr;
  limit = 0;
  position = 0;
}

void BufferedStream::Refill() {
  if (!buffer) return;
  const int32_t unread = limit - position;
  std::memmove(buffer, buffer + position, static_cast<size_t>(unread));
  const int32_t wanted = position;
  int got = wanted > 0 ? Read(buffer + unread, wanted) : 0;
  if (got < 0) got = 0;
  if (got > wanted) got = wanted;
  position = 0;
  limit = unread + got;
}

char* BufferedStream::ReadLine(int32_t* positionOut) {
  if (!buffer) return nullptr;
  if (position > limit - kLineReserve) Refill();
  for (; lineEndPending_ > 0 && position < limit && IsLineEnd(buffer[position]); --lineEndPending_)
    position += 1;
  lineEndPending_ = 0;
  if (position >= limit - 1) return nullptr;

  int32_t scan = position;
  int32_t end = -1;
  for (;;) {
    while (scan < limit && !IsLineEnd(buffer[scan])) ++scan;
    if (scan < limit) {
      end = scan;
      break;
    }
    if (position == 0) break;
    // A long line reaches past the valid data: move it to the front, top the
    // buffer up and go on scanning where we stopped.
    scan -= position;
    Refill();
    if (scan >= limit) break;
  }
  const int32_t start = position;

  if (end < 0) {
    // No line end before the end of the valid data: either the data ended
    // (the last line has no line end) or the line fills the whole buffer.
    // A line that fills the whole buffer is cut there; a line end (one or two
    // bytes) right after the cut belongs to it.
    buffer[limit] = '\0';
    position = limit;
    lineEndPending_ = limit == BUFFERED_STREAM_SIZE ? 2 : 0;
    if (positionOut) *positionOut = position;
    return buffer + start;
  }
  buffer[end] = '\0';
  position = end + 1;
  if (position < limit) {
    if (IsLineEnd(buffer[position])) position += 1;
  } else if (limit == BUFFERED_STREAM_SIZE) {
    lineEndPending_ = 1;
  }
  if (positionOut) *positionOut = position;
  return buffer + start;
}
