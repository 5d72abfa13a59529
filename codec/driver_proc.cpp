#include "codec/mp3_driver.h"

// The module's entry: the program looks this up by name after loading it.
extern "C" __attribute__((visibility("default"))) const CodecDriver* DriverProc(void) {
  return Mp3Driver();
}
