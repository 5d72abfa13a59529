#include "app/codec_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "platform/codec_service.h"

namespace {

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string executable(path, static_cast<size_t>(length));
  return executable.substr(0, executable.rfind('/'));
}

void* OpenModule() {
  const std::string beside = ExecutableDirectory() + "/" + UNPAK_CODEC_MODULE_NAME;
  if (void* module = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
  return dlopen(UNPAK_CODEC_INSTALL_PATH, RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

bool LoadCodecModule() {
  void* module = OpenModule();
  if (module == nullptr) return false;
  auto entry = reinterpret_cast<CodecDriverEntry>(dlsym(module, UNPAK_CODEC_DRIVER_ENTRY));
  return entry != nullptr && CodecDriverAdd(entry);
}
