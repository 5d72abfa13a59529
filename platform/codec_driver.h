#pragma once

// The interface between the codec service and codec drivers. A driver is a
// table of C functions; the codec module exports an entry function that
// returns its tables one by one, so tables can also be registered in-process.

#include <stdint.h>

extern "C" {

// Version of this table layout; the service refuses drivers of another one.
#define UNPAK_CODEC_DRIVER_ABI 2
// Name of the entry function that a codec module exports.
#define UNPAK_CODEC_DRIVER_ENTRY "DriverProc"

// Results of driver calls.
enum : int32_t {
  kCodecOk = 0,
  kCodecError = 1,        // the call failed; see the stream's error text
  kCodecNotPossible = 2,  // the driver cannot do this conversion
};

// Size query directions.
enum : uint32_t {
  kStreamSizeSource = 0,       // most destination bytes that `input` source bytes yield
  kStreamSizeDestination = 1,  // most source bytes whose conversion fits `input` destination bytes
};

// Conversion flags.
enum : uint32_t {
  kConvertBlockAlign = 4,  // convert whole source blocks only
  kConvertEnd = 0x20,      // the source has ended: also put out what is held back
};

// One conversion request: read from pbSrc (up to cbSrcLength), write to pbDst
// (up to cbDstLength); the driver sets the two Used counts.
struct CodecStreamHeader {
  uint32_t cbStruct;
  uint32_t fdwStatus;
  uint8_t* pbSrc;
  uint32_t cbSrcLength;
  uint32_t cbSrcLengthUsed;
  uint8_t* pbDst;
  uint32_t cbDstLength;
  uint32_t cbDstLengthUsed;
};

struct CodecDriverStream;

struct CodecDriver {
  uint32_t abiVersion;
  const char* name;
  // Completes `suggested` (at least 18 bytes) with a format that `source`
  // converts to, keeping a nonzero wFormatTag that the caller preset.
  int32_t (*suggestFormat)(const uint8_t* source, uint32_t sourceSize, uint8_t* suggested,
                           uint32_t suggestedSize);
  // Opens a conversion. On kCodecNotPossible or kCodecError `reason` (if not
  // null) receives a NUL-terminated explanation of at most reasonSize bytes.
  int32_t (*openStream)(const uint8_t* source, uint32_t sourceSize, const uint8_t* destination,
                        uint32_t destinationSize, CodecDriverStream** stream, char* reason,
                        uint32_t reasonSize);
  int32_t (*streamSize)(CodecDriverStream* stream, uint32_t input, uint32_t* output,
                        uint32_t flags);
  // Converts one request. Output that does not fit the destination is kept
  // and comes out of a later call.
  int32_t (*convert)(CodecDriverStream* stream, CodecStreamHeader* header, uint32_t flags);
  // Text of the last failure on the stream (never null).
  const char* (*lastError)(CodecDriverStream* stream);
  void (*closeStream)(CodecDriverStream* stream);
};

// The driver at `index`, counting from 0; null after the last.
typedef const CodecDriver* (*CodecDriverEntry)(uint32_t index);
}
