#include "run/codec_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "platform/codec_service.h"

namespace unpak {

namespace {

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string executable(path, static_cast<size_t>(length));
  return executable.substr(0, executable.rfind('/'));
}

// Beside the executable (the build tree), then where an install puts the
// module relative to its bindir, so an install works under any prefix.
void* OpenModule() {
  const std::string directory = ExecutableDirectory();
  for (const std::string& candidate :
       {directory + "/" UNPAK_CODEC_MODULE_NAME,
        directory + "/" UNPAK_CODEC_DIR_FROM_BINDIR "/" UNPAK_CODEC_MODULE_NAME}) {
    if (void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
  }
  return nullptr;
}

}  // namespace

bool LoadCodecModule() {
  void* module = OpenModule();
  if (module == nullptr) return false;
  auto entry = reinterpret_cast<CodecDriverEntry>(dlsym(module, UNPAK_CODEC_DRIVER_ENTRY));
  return entry != nullptr && CodecDriverAdd(entry);
}

}  // namespace unpak
