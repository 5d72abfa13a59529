#include "codec/mpeg_rates.h"

bool MpegGeometryForRate(uint32_t rate, MpegFrameGeometry* geometry) {
  switch (rate) {
    case 32000:
    case 44100:
    case 48000:
      // MPEG-1: 1152 samples; the smallest frame is 32 kbps.
      *geometry = {1152, 144 * 32000 / rate};
      return true;
    case 8000:
    case 11025:
    case 12000:
    case 16000:
    case 22050:
    case 24000:
      // MPEG-2 and 2.5: 576 samples; the smallest frame is 8 kbps.
      *geometry = {576, 72 * 8000 / rate};
      return true;
    default:
      return false;
  }
}
