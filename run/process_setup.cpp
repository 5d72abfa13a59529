#include "run/process_setup.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/interrupt_cleanup.h"

namespace unpak {

namespace {

bool standardOutputWasOpen = true;

void OpenClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    if (fd == STDOUT_FILENO) standardOutputWasOpen = false;
    // open returns the lowest free number: this one.
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened >= 0) close(opened);
  }
}

}  // namespace

bool StandardOutputWasOpen() { return standardOutputWasOpen; }

void PrepareProcess(const char* programName) {
  OpenClosedStandardDescriptors();
  SetConsoleProgramName(programName);
  InstallInterruptCleanup();
}

}  // namespace unpak
