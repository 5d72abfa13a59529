#include "tests/fuzz/fuzz_sandbox.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/codec_service.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kWorkName = "work";

struct Sandbox {
  fs::path outer;  // holds nothing but the working folder
  fs::path work;
  fs::path home;   // where the process stood before the input
};

Sandbox& State() {
  static Sandbox sandbox;
  return sandbox;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz sandbox: %s\n", what.c_str());
  std::abort();
}

void RegisterCodec() {
  void* module = dlopen(UNPAK_CODEC_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) Fail(std::string("cannot load the codec module: ") + dlerror());
  auto entry = reinterpret_cast<CodecDriverEntry>(dlsym(module, UNPAK_CODEC_DRIVER_ENTRY));
  if (entry == nullptr || !CodecDriverAdd(entry)) Fail("cannot register the codec module");
}

void SilenceStdout() {
  std::fflush(stdout);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) Fail("cannot send standard output to /dev/null");
  close(null);
}

// An archive that claims more than the disk holds asks on the controlling
// terminal whether to go on; without one the answer is no at once, so an
// input can never wait for a key.
void DetachFromTerminal() {
  const int terminal = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (terminal < 0) return;
  ioctl(terminal, TIOCNOTTY);
  close(terminal);
}

void RemoveSandbox() {
  std::error_code error;
  fs::remove_all(State().outer, error);
}

}  // namespace

void FuzzSandboxInit() {
  RegisterCodec();
  SilenceStdout();
  DetachFromTerminal();
  std::string pattern = (fs::temp_directory_path() / "unpak-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create a temporary folder");
  Sandbox& sandbox = State();
  sandbox.outer = pattern;
  sandbox.work = sandbox.outer / kWorkName;
  std::error_code error;
  if (!fs::create_directory(sandbox.work, error)) Fail("cannot create " + sandbox.work.string());
  std::atexit(RemoveSandbox);
}

void FuzzSandboxEnter() {
  Sandbox& sandbox = State();
  std::error_code error;
  sandbox.home = fs::current_path(error);
  if (error || chdir(sandbox.work.c_str()) != 0) Fail("cannot enter " + sandbox.work.string());
}

void FuzzSandboxLeave() {
  Sandbox& sandbox = State();
  if (chdir(sandbox.home.c_str()) != 0) Fail("cannot return to " + sandbox.home.string());
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(sandbox.work, error)) {
    fs::remove_all(entry.path(), error);
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(sandbox.outer, error)) {
    if (entry.path().filename() != kWorkName) {
      Fail("the input wrote outside its folder: " + entry.path().string());
    }
  }
}
