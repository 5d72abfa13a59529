#include "platform/console.h"
#include "run/codec_loader.h"
#include "run/process_setup.h"
#include "run/unpack_archive.h"

int main(int argc, char** argv) {
  using namespace unpak;
  PrepareProcess("unpak");
  if (argc != 2) {
    ConsolePrint("Usage: %s <file.pak>\n", argc > 0 ? argv[0] : "unpak");
    return -1;
  }
  if (!LoadCodecModule()) {
    ConsolePrint("Unable to load codec ... exiting\n");
    return -1;
  }
  UnpackOptions options;
  options.workers = AvailableCores();
  switch (UnpackArchive(argv[1], options)) {
    case UnpackStatus::kOk:
      return 0;
    case UnpackStatus::kEntriesFailed:
      return 1;
    default:
      return -1;
  }
}
