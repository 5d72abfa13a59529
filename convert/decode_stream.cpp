#include "convert/decode_stream.h"

#include <algorithm>
#include <cstring>

#include "convert/conversion_buffers.h"
#include "convert/decoded_audio.h"
#include "convert/source_format.h"
#include "platform/codec_service.h"
#include "platform/console.h"
#include "platform/wave_format.h"

namespace unpak {

namespace {

constexpr uint32_t kFallbackDestinationSize = 4096;
// A cap on the buffer that the codec's size answer would size, whatever it
// says. A pass's audio stays far below it (a few MiB at most); output that
// does not fit the destination comes out of further calls within the pass.
constexpr uint32_t kMaxDestinationChunkSize = 1024 * 1024;

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
    *reason = DecodeFailure(loop.stream);
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
  const uint32_t sourceChunkSize = DecodePassSize(mpeg);
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
