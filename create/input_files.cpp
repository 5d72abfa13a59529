#include "create/input_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "archive/entry_path.h"
#include "archive/name_case.h"
#include "platform/console.h"

namespace unpak {

namespace fs = std::filesystem;

namespace {

bool EndsInWav(const std::string& name) {
  const std::string suffix = ".wav";
  if (name.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), name.end() - suffix.size(), [](char a, char b) {
    return a == std::tolower(static_cast<unsigned char>(b));
  });
}

// The parts of `path` other than "." and empty ones, joined by backslashes
// onto `name`; false, with the problem, for a backslash in one.
bool AppendParts(const fs::path& path, std::string* name, std::string* problem) {
  for (const fs::path& part : path) {
    const std::string text = part.string();
    if (text.empty() || text == "." || text == "/") continue;
    if (text.find('\\') != std::string::npos) {
      *problem = "a backslash in its name would read as a folder separator in the archive";
      return false;
    }
    if (!name->empty()) name->push_back('\\');
    *name += text;
  }
  return true;
}

// The name that a path as given gives its entries, empty for the current
// folder; false, with the problem, when no entry can be named by it.
bool GivenName(const std::string& given, std::string* name, std::string* problem) {
  if (!given.empty() && given[0] == '/') {
    *problem = "an absolute path cannot name an entry (-C DIR reads the paths after it from DIR)";
    return false;
  }
  return AppendParts(given, name, problem) &&
         (name->empty() || CheckOutputPathForm(*name, problem));
}

// Adds the file at `path`, named by `given` (its name as given) and `below`,
// its path below that.
void AddFile(const fs::path& path, std::string name, const fs::path& below,
             std::vector<InputFile>* files, std::vector<std::string>* problems) {
  std::string problem;
  if (AppendParts(below, &name, &problem) && CheckOutputPathForm(name, &problem)) {
    files->push_back({path.string(), name});
  } else {
    problems->push_back(DisplayName(path.string()) + ": " + problem);
  }
}

void AddFolder(const fs::path& folder, const std::string& given, std::vector<InputFile>* files,
               std::vector<std::string>* problems) {
  std::vector<fs::path> found;
  std::error_code error;
  fs::recursive_directory_iterator walk(folder, error);
  for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
    std::error_code unreadable;  // a dangling link, say: not a file to take
    if (walk->is_regular_file(unreadable) && EndsInWav(walk->path().filename().string())) {
      found.push_back(walk->path());
    }
  }
  if (error) {
    problems->push_back(DisplayName(folder.string()) +
                        ": cannot read the folder: " + error.message());
    return;
  }
  if (found.empty()) {
    problems->push_back(DisplayName(folder.string()) + ": holds no .wav files");
    return;
  }
  std::sort(found.begin(), found.end(),
            [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
  for (const fs::path& path : found)
    AddFile(path, given, path.lexically_relative(folder), files, problems);
}

}  // namespace

bool ListInputFiles(const std::vector<InputArgument>& arguments, std::vector<InputFile>* files) {
  std::vector<std::string> found;
  std::vector<std::string>* problems = &found;
  for (const InputArgument& argument : arguments) {
    const fs::path path = fs::path(argument.folder) / argument.path;
    std::string name;
    std::string problem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!GivenName(argument.path, &name, &problem)) {
      problems->push_back(DisplayName(argument.path) + ": " + problem);
    } else if (fs::is_directory(status)) {
      AddFolder(path, name, files, problems);
    } else if (fs::exists(status)) {
      AddFile(path, name, {}, files, problems);
    } else {
      problems->push_back(DisplayName(path.string()) + ": " +
                          (error ? error.message() : "no such file or folder"));
    }
  }
  // Where archives are unpacked, names that differ only in case are one
  // file, so one such input would hide the other.
  std::map<std::string, const InputFile*> names;
  for (const InputFile& file : *files) {
    const auto [other, first] = names.try_emplace(FoldedName(file.name), &file);
    if (first) continue;
    const std::string& otherName = other->second->name;
    problems->push_back(
        DisplayName(file.path) +
        (otherName == file.name
             ? ": another input is stored as " + DisplayName(file.name) + " too"
             : ": stored as " + DisplayName(file.name) + ", it differs only in case from " +
                   DisplayName(other->second->path) + ", stored as " + DisplayName(otherName)));
  }
  for (const std::string& problem : found) ConsoleError("%s", problem.c_str());
  return found.empty();
}

}  // namespace unpak
