#include <iterator>

#include "codec/encoder_driver.h"
#include "codec/mp3_driver.h"

// The module's entry: the program looks this up by name after loading it and
// registers the drivers it gives, in this order.
extern "C" __attribute__((visibility("default"))) const CodecDriver* DriverProc(uint32_t index) {
  const CodecDriver* const drivers[] = {unpak::Mp3Driver(), unpak::EncoderDriver()};
  return index < std::size(drivers) ? drivers[index] : nullptr;
}
