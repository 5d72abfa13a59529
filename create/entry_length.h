#pragma once

// How far unpak's decode stage runs for an entry, so that the "data" chunk
// unpak writes is as long as the input's.

#include <cstdint>
#include <span>
#include <string>

namespace unpak {

struct EntryLength {
  uint32_t decodedLength = 0;   // the "skee" value
  uint32_t audioLength = 0;     // the "data" chunk unpak writes from it
  uint64_t framesToEncode = 0;  // input sample frames the MP3 stream must cover
};

// For the entry whose target block is `target` and whose MPEG Layer-3 block
// is `mp3Format`, made from an input of `inputFrames` sample frames with a
// "data" chunk of `dataLength` bytes. A PCM target stops at the input's data
// length. Any other target is decoded first to the PCM format that the codec
// service suggests, at the MP3's rate; that stops where re-encoding it gives
// the input's whole blocks. False, with the reason, when no length gives that.
bool ChooseEntryLength(std::span<const uint8_t> target, std::span<const uint8_t> mp3Format,
                       uint64_t inputFrames, uint32_t dataLength, EntryLength* length,
                       std::string* reason);

// The sample frames that `audioLength` bytes of audio in the target's format
// hold: its whole blocks times the frames per block.
uint64_t FramesInAudio(std::span<const uint8_t> target, uint32_t audioLength);

// The same for audio of `frames` sample frames at the target's rate, whose
// "data" chunk in the target's format would hold them all: whole blocks,
// the last one padded.
bool ChooseEntryLengthOfFrames(std::span<const uint8_t> target, std::span<const uint8_t> mp3Format,
                               uint64_t frames, EntryLength* length, std::string* reason);

}  // namespace unpak
