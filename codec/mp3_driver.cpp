#include "codec/mp3_driver.h"

#include "codec/driver_table.h"
#include "codec/mp3_formats.h"
#include "codec/mp3_stream.h"

namespace unpak {

namespace {

using Mp3Table =
    DriverTable<Mp3DecodeStream, SuggestPcmFormat, OpenMp3Stream, Mp3StreamSize, ConvertMp3Stream>;
constexpr CodecDriver kMp3Driver = Mp3Table::Make("MPEG Layer-3 decoder (libmpg123)");

}  // namespace

const CodecDriver* Mp3Driver() { return &kMp3Driver; }

}  // namespace unpak
