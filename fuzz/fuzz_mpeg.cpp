// Fuzz target: the input's first byte picks the stream's rate and the size
// of the pieces it arrives in; the rest is an MPEG Layer III stream, framed
// as the codec module frames it for the decoder and walked for damage as
// `pak test` walks it. Every frame must be whole, of a length the decoder
// takes, and inside what was added.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "codec/mp3_framer.h"
#include "convert/stream_damage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace unpak;
  if (size == 0) return 0;
  static constexpr uint32_t kRates[] = {8000,  11025, 12000, 16000, 22050,
                                        24000, 32000, 44100, 48000};
  const uint32_t rate = kRates[(data[0] & 15) % std::size(kRates)];
  const size_t piece = 7 + (size_t{data[0]} >> 4) * 97;  // splits headers and frames
  const uint8_t* stream = data + 1;
  const size_t length = size - 1;

  Mp3Framer framer;
  framer.rate = rate;
  size_t added = 0;
  size_t framed = 0;
  while (true) {
    const bool end = added == length;
    while (const auto frame = NextMp3Frame(framer, end)) {
      framed += frame->bytes.size();
      const Layer3Header& header = frame->header;
      if (frame->bytes.size() < header.shortest || frame->bytes.size() > kLongestLayer3Frame ||
          (!header.freeFormat && frame->bytes.size() != header.length) || framed > added) {
        abort();
      }
    }
    if (end) break;
    const size_t count = std::min(piece, length - added);
    AddToMp3Framer(framer, stream + added, count);
    added += count;
  }

  const StreamDamage damage = FindStreamDamage(stream, length);
  if (damage.skippedBytes > length) abort();
  DescribeDamage(damage);
  return 0;
}
