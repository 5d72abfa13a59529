#include "tests/support/run_program.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace unpak {

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

std::string ReadAll(FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  return text;
}

}  // namespace

// The outputs go to unnamed temporary files rather than pipes, so the child
// can never block on a full pipe.
ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& argv,
                         const std::filesystem::path& cwd,
                         const std::function<void(pid_t)>& meanwhile) {
  ProgramResult result;
  const File out(std::tmpfile(), &std::fclose);
  const File err(std::tmpfile(), &std::fclose);
  if (!out || !err) return result;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int input = open("/dev/null", O_RDONLY);
    if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(fileno(out.get()), STDOUT_FILENO) < 0 ||
        dup2(fileno(err.get()), STDERR_FILENO) < 0 || chdir(cwd.c_str()) != 0) {
      _exit(127);
    }
    execv(program.c_str(), args.data());
    _exit(127);
  }
  if (pid < 0) return result;
  if (meanwhile) meanwhile(pid);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadAll(out.get());
  result.err = ReadAll(err.get());
  return result;
}

std::string MountNamespaceOption() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  for (const char* option : {"-m", "-rm"}) {
    const std::vector<std::string> argv{
        "/usr/bin/unshare", option, "mount", "-t", "tmpfs", "tmpfs", dir};
    if (RunProgram(argv[0], argv, dir).exitStatus == 0) return option;
  }
  return "";
}

bool WritingAnOutput(pid_t pid, const std::filesystem::path& dir,
                     const std::vector<std::string>& inputs) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = fs::read_symlink(fd.path(), error).string();
    if (error || target.rfind(dir.string() + "/", 0) != 0) continue;
    if (std::ranges::count(inputs, target.substr(dir.string().size() + 1))) continue;
    struct stat info;
    if (stat(fd.path().c_str(), &info) == 0 && info.st_size > 0) return true;
  }
  return false;
}

}  // namespace unpak
