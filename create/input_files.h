#pragma once

// The WAV files that `pak create` and `pak update` read and the names they
// store them under.

#include <string>
#include <vector>

namespace unpak {

// One PATH of the command line and the folder that -C made current for it.
struct InputArgument {
  std::string folder;  // empty: the current folder
  std::string path;    // as given; it names the entries
};

struct InputFile {
  std::string path;  // where it is read from
  std::string name;  // the entry's path: backslash-separated, relative
};

// The files that `arguments` name, in order, each named as tar names its
// members: a file by its path as given, a folder's files ending in ".wav"
// (any case) by the folder's path as given and their paths below it, in
// byte order of those. "." parts and repeated slashes are dropped; the name
// must pass unpak's own path rules. False, after one message per problem (a
// path that cannot be read, a folder without WAV files, an absolute path or
// one with "..", two files under one name or names that differ only in
// ASCII case).
bool ListInputFiles(const std::vector<InputArgument>& arguments, std::vector<InputFile>* files);

}  // namespace unpak
