#include "tests/support/decode_model.h"

#include <algorithm>

DecodeExpectation ModelDecode(const DecodeModelInput& input) {
  DecodeExpectation result;
  int64_t remaining = input.compressedSize;
  size_t consumed = 0;
  size_t framesOut = 0;
  int64_t written = 0;
  while (remaining > 0 && input.chunkSize > 0) {
    const int64_t read = std::min<int64_t>(remaining, input.chunkSize);
    remaining -= read;
    consumed += static_cast<size_t>(read);
    const size_t framesDone = static_cast<size_t>(
        std::upper_bound(input.frameEnds.begin(), input.frameEnds.end(), consumed) -
        input.frameEnds.begin());
    const int64_t produced = static_cast<int64_t>(framesDone - framesOut) * input.bytesPerFrame;
    framesOut = framesDone;
    if (produced == 0) continue;
    int64_t length = produced - (result.marks == 0 ? input.skipBytes : 0);
    written += length;
    if (input.cap && written > *input.cap) {
      length -= written - *input.cap;
      if (input.eightBit && *input.cap % 2 == 1) length -= 2;
      remaining = 0;
    }
    if (length > 0) result.dataLength += static_cast<uint32_t>(length);
    ++result.marks;
  }
  return result;
}
