#include "app/codec_loader.h"
#include "app/unpack_archive.h"
#include "platform/console.h"
#include "platform/interrupt_cleanup.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    ConsolePrint("Usage: %s <file.pak>\n", argc > 0 ? argv[0] : "unpak");
    return -1;
  }
  if (!LoadCodecModule()) {
    ConsolePrint("Unable to load codec ... exiting\n");
    return -1;
  }
  InstallInterruptCleanup();
  return UnpackArchive(argv[1]);
}
