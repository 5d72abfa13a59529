#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// MPEG audio Layer III frame headers (MPEG-1, MPEG-2 LSF and MPEG-2.5).
struct MpegFrameHeader {
  int version = 0;          // 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
  int bitrateKbps = 0;      // 0 for a free-format stream
  int sampleRate = 0;
  int channelMode = 0;      // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  int modeExtension = 0;    // joint stereo: bit 0 intensity, bit 1 mid/side
  bool padding = false;
  int channels = 0;
  int samplesPerFrame = 0;  // per channel
  size_t length = 0;        // bytes, header included; 0 for free format
};

// False unless the 4 bytes at `p` are a valid Layer III header.
bool ParseMpegFrameHeader(const uint8_t* p, MpegFrameHeader* header);

struct MpegFrame {
  size_t offset = 0;
  size_t length = 0;
  MpegFrameHeader header;
};

// The complete frames of a bare frame stream, in order, from its first
// header. Stops at the first byte that does not start a frame and leaves out
// a final frame cut short. Free-format frame lengths are found from the
// distance between the first two headers.
std::vector<MpegFrame> ScanMpegFrames(const std::vector<uint8_t>& stream);
