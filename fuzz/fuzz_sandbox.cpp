#include "fuzz/fuzz_sandbox.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/codec_service.h"

namespace unpak {

namespace fs = std::filesystem;

namespace {

fs::path outer;  // holds nothing but the working folder
fs::path work;
fs::path home;  // where the process stood before the first input

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz sandbox: %s\n", what.c_str());
  std::abort();
}

}  // namespace

}  // namespace unpak

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace unpak;
  void* module = dlopen(UNPAK_CODEC_MODULE, RTLD_NOW | RTLD_LOCAL);
  const auto entry = reinterpret_cast<CodecDriverEntry>(
      module ? dlsym(module, UNPAK_CODEC_DRIVER_ENTRY) : nullptr);
  if (entry == nullptr || !CodecDriverAdd(entry)) Fail("cannot register " UNPAK_CODEC_MODULE);
  std::fflush(stdout);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) Fail("cannot send standard output to /dev/null");
  close(null);
  // An archive that claims more than the disk holds asks on the controlling
  // terminal whether to go on; without one the answer is no at once, so an
  // input can never wait for a key.
  const int terminal = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (terminal >= 0) {
    ioctl(terminal, TIOCNOTTY);
    close(terminal);
  }

  std::string pattern = (fs::temp_directory_path() / "unpak-fuzz-XXXXXX").string();
  std::error_code error;
  home = fs::current_path(error);
  if (error || mkdtemp(pattern.data()) == nullptr) Fail("cannot create a temporary folder");
  outer = pattern;
  work = outer / "work";
  if (!fs::create_directory(work, error)) Fail("cannot create " + work.string());
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(outer, ignored);
  });
  return 0;
}

namespace unpak {

void FuzzInSandbox(const std::function<void()>& input) {
  if (chdir(work.c_str()) != 0) Fail("cannot enter " + work.string());
  input();
  if (chdir(home.c_str()) != 0) Fail("cannot return to " + home.string());
  std::error_code error;
  fs::remove_all(work, error);
  if (!fs::is_empty(outer, error))
    Fail("the input wrote outside its folder, into " + outer.string());
  if (!fs::create_directory(work, error)) Fail("cannot create " + work.string());
}

void FuzzArchiveInSandbox(const uint8_t* data, size_t size,
                          const std::function<void(const std::string& path)>& input) {
  const int fd = memfd_create("fuzz-archive", MFD_CLOEXEC);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) Fail("cannot hold the input");
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  FuzzInSandbox([&] { input(path); });
  close(fd);
}

}  // namespace unpak
