// A reader that keeps one 65,536-byte buffer and cuts lines out of it in
// place. Line ends CR, LF, CR LF and LF CR are accepted alike. Used by one
// thread only.
#pragma once
#include <cstdint>

constexpr int32_t BUFFERED_STREAM_SIZE = 65536;

class BufferedStream {
 public:
  BufferedStream();
  virtual ~BufferedStream();
  BufferedStream(const BufferedStream&) = delete;
  BufferedStream& operator=(const BufferedStream&) = delete;

  // Delivers up to count bytes; 0 at the end of the source or on failure.
  virtual int Read(void* destination, int count) = 0;
  virtual int Write(const void* source, int count) = 0;

  // The next line, NUL-terminated, without its line end; null when the data is
  // used up. The text lies in the buffer and stays valid until the next call;
  // the caller may change it in place. When a line is returned and
  // positionOut is given, it receives the buffer position after the line.
  // Lines up to the buffer's size come out whole; a longer one is handed out
  // in pieces of the buffer's size.
  char* ReadLine(int32_t* positionOut);
  // True once a refill found neither unread bytes nor new ones.
  bool AtEnd() const { return buffer != nullptr && limit == 0; }
  // Moves the unread bytes to the front and tops the buffer up from the
  // source with as many bytes as were consumed.
  void Refill();

  // One byte more than the buffer's size, so that a line filling the whole
  // buffer can still be NUL-terminated. Null when there was no memory for it:
  // the stream then reads no line.
  char* buffer;
  int32_t position;
  int32_t limit;

 private:
  // How many CR or LF bytes at the front of the next refill still belong to
  // the last line's end: 1 when that end was the last byte of a full buffer
  // (the second byte of a pair may follow), 2 when the line was cut at the
  // buffer's size.
  int lineEndPending_ = 0;
};
