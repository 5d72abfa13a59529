#include "codec/mp3_framer.h"

namespace unpak {

namespace {

enum class Search { kFound, kNone, kMore };

// Looks for the header that ends the free-format frame at `p`, of which
// `size` bytes are held: the next header of its stream.
Search FindFreeFormatLength(const uint8_t* p, size_t size, const Layer3Header& header, bool end,
                            size_t* length) {
  for (size_t next = header.shortest;
       next <= kLongestLayer3Frame && next + kLayer3HeaderSize <= size; ++next) {
    if (ReadLayer3Header(p + next) && SameLayer3Stream(p, p + next)) {
      *length = next;
      return Search::kFound;
    }
  }
  return end || size >= kLongestLayer3Frame + kLayer3HeaderSize ? Search::kNone : Search::kMore;
}

// Whether the header at `p` starts a frame of `length` bytes: a header of
// the stream where a frame should start does; any other only once the next
// header agrees with it.
Search ConfirmFrame(const Mp3Framer& framer, const uint8_t* p, size_t size,
                    const Layer3Header& header, bool end, size_t* length) {
  const bool ofStream = header.rate == framer.rate &&
                        framer.freeFormat.value_or(header.freeFormat) == header.freeFormat;
  if (header.freeFormat && framer.freeLength == 0) {
    // Finding the next header is the confirmation.
    return FindFreeFormatLength(p, size, header, end, length);
  }
  *length = header.freeFormat ? framer.freeLength + header.padding : header.length;
  // libmpg123 takes no frame shorter than its side information, or longer
  // than it can hold.
  if (*length < header.shortest || *length > kLongestLayer3Frame) return Search::kNone;
  if (framer.atFrame && ofStream) return Search::kFound;
  if (size < *length + kLayer3HeaderSize) return end ? Search::kNone : Search::kMore;
  const uint8_t* next = p + *length;
  return ReadLayer3Header(next) && SameLayer3Stream(p, next) ? Search::kFound : Search::kNone;
}

}  // namespace

size_t Mp3FramerHeld(const Mp3Framer& framer) { return framer.held.size() - framer.start; }

void AddToMp3Framer(Mp3Framer& framer, const uint8_t* bytes, size_t count) {
  framer.held.erase(framer.held.begin(),
                    framer.held.begin() + static_cast<std::ptrdiff_t>(framer.start));
  framer.start = 0;
  framer.held.insert(framer.held.end(), bytes, bytes + count);
}

std::optional<Mp3Frame> NextMp3Frame(Mp3Framer& framer, bool end) {
  for (;;) {
    const uint8_t* p = framer.held.data() + framer.start;
    const size_t size = Mp3FramerHeld(framer);
    if (size < kLayer3HeaderSize) break;
    const std::optional<Layer3Header> header = ReadLayer3Header(p);
    size_t length = 0;
    const Search search =
        header ? ConfirmFrame(framer, p, size, *header, end, &length) : Search::kNone;
    if (search == Search::kMore) return std::nullopt;
    if (search == Search::kFound && length <= size) {
      framer.start += length;
      framer.atFrame = true;
      if (!framer.freeFormat) framer.freeFormat = header->freeFormat;
      if (header->freeFormat && framer.freeLength == 0) {
        framer.freeLength = static_cast<uint32_t>(length) - header->padding;
      }
      return Mp3Frame{{p, length}, *header};
    }
    // The rest of a frame comes later; at the end it never does.
    if (search == Search::kFound && !end) return std::nullopt;
    ++framer.start;
    framer.atFrame = false;
  }
  if (end) {
    framer.held.clear();
    framer.start = 0;
  }
  return std::nullopt;
}

}  // namespace unpak
