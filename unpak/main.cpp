#include <cstring>

#include "platform/console.h"
#include "run/codec_loader.h"
#include "run/process_setup.h"
#include "run/unpack_archive.h"

int main(int argc, char** argv) {
  using namespace unpak;
  PrepareProcess("unpak");
  const char* usage = "Usage: %s <file.pak>\n";
  const char* name = argc > 0 ? argv[0] : "unpak";
  if (argc != 2) {
    ConsolePrint(usage, name);
    return -1;
  }
  // An archive named so is reached as ./--help or ./--version.
  if (std::strcmp(argv[1], "--help") == 0) {
    ConsolePrint(usage, name);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    ConsolePrint("unpak %s\n", UNPAK_VERSION);
    return 0;
  }
  if (!LoadCodecModule()) {
    ConsolePrint("Unable to load codec ... exiting\n");
    return -1;
  }
  UnpackOptions options;
  options.workers = AvailableCores();
  options.damageFails = false;
  switch (UnpackArchive(argv[1], options)) {
    case UnpackStatus::kOk:
      return 0;
    case UnpackStatus::kEntriesFailed:
      return 1;
    default:
      return -1;
  }
}
