#include "convert/decode_stream.h"

#include <algorithm>
#include <cstring>

#include "convert/conversion_buffers.h"
#include "convert/source_format.h"
#include "platform/codec_service.h"
#include "platform/console.h"
#include "platform/wave_format.h"

namespace unpak {

namespace {

constexpr uint32_t kBlocksPerPass = 32;
constexpr uint32_t kFallbackDestinationSize = 4096;
// Caps on the buffers that the format's fields and the codec's size answer
// would size, whatever they say. Real formats stay far below them (a frame is
// at most 1441 bytes at a fixed bitrate and a pass's audio a few MiB), so
// their passes are as the format makes them; output that does not fit the
// destination comes out of further calls within the same pass.
constexpr uint32_t kMaxSourceChunkSize = 128 * 1024;
constexpr uint32_t kMaxDestinationChunkSize = 1024 * 1024;

// Where decoded audio goes: the codec delay is cut from its front, across as
// many passes as it takes, and it is capped at decodedLength bytes.
struct DecodedAudio {
  ChunkFile& destination;
  uint64_t delayLeft;  // bytes
  uint32_t decodedLength;
  uint16_t bitsPerSample;
  uint64_t written = 0;
  bool capped = false;
};

// The codec delay in bytes of the output: nCodecDelay frames at the source's
// rate, which are fewer or more frames when the output has another rate.
uint64_t DelayBytes(const WaveFormat& source, const WaveFormat& output, uint16_t codecDelay) {
  uint64_t frames = codecDelay;
  if (output.nSamplesPerSec != source.nSamplesPerSec && source.nSamplesPerSec != 0) {
    frames = (uint64_t{codecDelay} * output.nSamplesPerSec + source.nSamplesPerSec / 2) /
             source.nSamplesPerSec;
  }
  return uint64_t{output.wBitsPerSample} * frames * output.nChannels / 8;
}

// Writes one call's output, past the delay and up to the cap. False when
// the write fails.
bool WriteAudio(DecodedAudio& audio, const uint8_t* data, uint32_t produced) {
  const uint32_t skip = static_cast<uint32_t>(std::min<uint64_t>(audio.delayLeft, produced));
  audio.delayLeft -= skip;
  int64_t length = produced - skip;
  audio.written += static_cast<uint64_t>(length);
  if (audio.written > audio.decodedLength) {
    length -= static_cast<int64_t>(audio.written - audio.decodedLength);
    // Odd lengths of 8-bit audio lose two bytes, as they always have.
    if (audio.bitsPerSample == 8 && audio.decodedLength % 2 == 1) length -= 2;
    audio.capped = true;
  }
  return length <= 0 ||
         ChunkWrite(audio.destination, data + skip, static_cast<int32_t>(length)) == length;
}

// The codec stream, its buffers, the source bytes it has not taken yet (at
// the front of the source buffer) and where its audio goes.
struct DecodeLoop {
  CodecStream& stream;
  ConversionBuffers& buffers;
  DecodedAudio& audio;
  uint32_t carried = 0;
};

// One conversion of the carried bytes: writes what comes out and keeps what
// the codec did not take. False, with the reason, when the codec fails or
// the write does.
bool ConvertCarried(DecodeLoop& loop, uint32_t flags, std::string* reason) {
  CodecStreamHeader& header = loop.buffers.header;
  header.cbSrcLength = loop.carried;
  if (!CodecStreamConvert(loop.stream, header, flags)) {
    *reason = "the MP3 audio cannot be decoded: " + CodecStreamError(loop.stream);
    return false;
  }
  if (!WriteAudio(loop.audio, loop.buffers.destination.data(), header.cbDstLengthUsed)) {
    *reason = ChunkWriteFailure(loop.audio.destination, "the decoded audio");
    return false;
  }
  uint8_t* source = loop.buffers.source.data();
  loop.carried -= header.cbSrcLengthUsed;
  if (loop.carried > 0) std::memmove(source, source + header.cbSrcLengthUsed, loop.carried);
  return true;
}

// One pass over `read` more bytes: converts until the codec has put out
// everything they give (its output no longer fills the destination), and
// prints one mark if any audio came. Sets `stuck` when the codec neither
// took nor gave anything.
bool ConvertPass(DecodeLoop& loop, uint32_t alignedPass, uint32_t read, uint16_t outputAlign,
                 bool* stuck, std::string* reason) {
  const CodecStreamHeader& header = loop.buffers.header;
  loop.carried += read;
  bool audio = false;
  bool full = true;
  *stuck = read == 0;
  while (full && !loop.audio.capped) {
    const uint32_t flags = loop.carried % alignedPass == 0 ? uint32_t{kConvertBlockAlign} : 0u;
    if (!ConvertCarried(loop, flags, reason)) return false;
    audio = audio || header.cbDstLengthUsed > 0;
    *stuck = *stuck && header.cbSrcLengthUsed == 0 && header.cbDstLengthUsed == 0;
    full = header.cbDstLengthUsed + outputAlign > header.cbDstLength;
  }
  if (audio) ConsolePrint("#");
  return true;
}

}  // namespace

bool DecodeStream(ChunkFile& destination, std::span<const uint8_t> destinationFormat,
                  std::span<const uint8_t> sourceFormat, ChunkFile& source, uint32_t compressedSize,
                  uint32_t decodedLength, uint64_t* decodedBytes, std::string* reason) {
  MpegLayer3Fields mpeg;
  WaveFormat input;
  if (!CheckSourceFormat(sourceFormat, &mpeg, &input, reason)) return false;
  CodecStreamPtr stream = CodecStreamOpen(sourceFormat, destinationFormat, reason);
  if (!stream) return false;

  const WaveFormat output = ReadWaveFormat(destinationFormat.data());
  const uint32_t sourceChunkSize =
      std::min(uint32_t{mpeg.nBlockSize} * kBlocksPerPass, kMaxSourceChunkSize);
  uint32_t destinationChunkSize = kFallbackDestinationSize;
  if (!CodecStreamSize(*stream, sourceChunkSize, &destinationChunkSize, kStreamSizeSource) ||
      destinationChunkSize == 0) {
    destinationChunkSize = kFallbackDestinationSize;
  }
  destinationChunkSize = std::min(destinationChunkSize, kMaxDestinationChunkSize);
  ConversionBuffers buffers;
  PrepareConversion(*stream, sourceChunkSize, destinationChunkSize, &buffers);

  DecodedAudio audio{destination, DelayBytes(input, output, mpeg.nCodecDelay), decodedLength,
                     output.wBitsPerSample};
  DecodeLoop loop{*stream, buffers, audio};
  const uint32_t alignedPass = uint32_t{input.nBlockAlign} * mpeg.nBlockSize;
  uint32_t remaining = compressedSize;
  bool ok = true;
  while (ok && remaining > 0 && !audio.capped) {
    // With the buffer full of bytes the codec has not taken, the pass reads none.
    const uint32_t room = std::min(remaining, sourceChunkSize - loop.carried);
    int32_t read = 0;
    if (room > 0) {
      read = ChunkRead(source, buffers.source.data() + loop.carried, static_cast<int32_t>(room));
      if (read <= 0) break;  // a source shorter than it claims ends where it ends
      remaining -= static_cast<uint32_t>(read);
    }
    bool stuck = false;
    ok = ConvertPass(loop, alignedPass, static_cast<uint32_t>(read), output.nBlockAlign, &stuck,
                     reason);
    // A codec that takes no more gets what is left once the source has ended.
    if (stuck) break;
  }
  // Once the source has ended, what the codec still holds (a resampler's
  // tail, bytes it did not take) comes out too, up to the cap. These calls
  // are no pass of the loop: they print no mark.
  for (bool more = ok; more && !audio.capped;) {
    ok = ConvertCarried(loop, kConvertEnd, reason);
    more = ok && (buffers.header.cbDstLengthUsed > 0 || buffers.header.cbSrcLengthUsed > 0);
  }
  *decodedBytes = audio.written;
  CodecStreamUnprepareHeader(*stream, buffers.header);
  return ok;
}

}  // namespace unpak
