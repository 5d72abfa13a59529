#pragma once

// Helpers for driving the MP3 codec module through the codec service.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave_format.h"
#include "tools/mp3_encoder.h"

// Loads the built codec module and registers its driver, once per process.
bool RegisterCodecModule();

// The MPEG Layer-3 format block of a LAME stream: nBlockSize the largest
// frame, nCodecDelay LAME's delay.
FormatBlock Mp3Format(int channels, int rate, const Mp3Stream& mp3, uint16_t blockAlign = 1);
FormatBlock PcmFormat(int channels, int rate, int bits);

// libmpg123 decoding of a whole stream to s16 with nothing trimmed, mixed to
// mono or duplicated to stereo as `channels` says.
std::vector<int16_t> ReferenceDecode(const std::vector<uint8_t>& mp3, int channels);

struct ServiceDecode {
  std::vector<uint8_t> pcm;
  uint32_t heldBack = 0;  // bytes that came out only when asked again with no new input
  uint32_t endTail = 0;   // bytes that came out only when told that the source has ended
  bool failed = false;
  std::string error;      // the first failure's text
};

// Feeds `mp3` in slices of `slice` bytes (unconsumed bytes are presented
// again at the front of the next slice), then asks with no new input until
// nothing more comes out, then says that the source has ended until nothing
// more comes out. `destinationSize` 0 takes the service's size answer for a
// slice.
ServiceDecode DecodeThroughService(const FormatBlock& source, const FormatBlock& target,
                                   const std::vector<uint8_t>& mp3, uint32_t slice,
                                   uint32_t destinationSize = 0, uint32_t flags = 0);

std::vector<int16_t> AsSamples(const std::vector<uint8_t>& pcm);
