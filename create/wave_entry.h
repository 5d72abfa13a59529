#pragma once

// One archive entry made from a WAV file. It is planned first, from the
// file's chunks and format, without encoding anything, so that every input
// can be checked before any is encoded; then its audio is encoded.

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/pak_writer.h"
#include "create/codec_delay.h"
#include "create/entry_length.h"
#include "create/mpeg_settings.h"

namespace unpak {

struct CreateSettings {
  uint32_t kbps = 0;  // 0: DefaultKbps at each entry's MP3 rate
  int quality = 2;    // LAME's
};

struct WaveEntryPlan {
  FormatBlock target;  // what the entry's target format field holds
  size_t inputSize = 0;
  uint32_t inputRate = 0;
  uint16_t inputChannels = 0;  // remixed to the MP3's channels when they differ
  Mp3Settings mp3;
  EntryLength length;
  PayloadParts parts;       // the payload's chunks; the MP3 stream comes from encoding
  uint64_t outputSize = 0;  // the file unpak writes, as unpak works it out
};

// Plans the entry for the WAV file held in `bytes`: its target format, the
// MP3 stream's settings and measured codec delay, the decoded length, the
// chunks it keeps, and the size of the file unpak will write, checked by
// unpak's own reading of the payload. Needs the codec module registered.
// False, with the reason, when the file cannot be stored or unpak could not
// write it back.
bool PlanWaveEntry(const uint8_t* bytes, size_t size, const CreateSettings& settings,
                   CodecDelays* delays, WaveEntryPlan* plan, std::string* reason);

// Reads the planned payload as unpak would, for plan->outputSize. False,
// with the reason, when unpak could not write it back at the planned length.
bool CheckWaveEntryPlan(WaveEntryPlan* plan, std::string* reason);

// Encodes the file's audio into plan->parts.mp3, printing "#" per pass of
// 32 MP3 frames' worth of audio. False, with the reason, on failure or when
// the file is no longer the one planned for.
bool EncodeWaveEntry(const uint8_t* bytes, size_t size, WaveEntryPlan* plan, std::string* reason);

}  // namespace unpak
