#pragma once

// The WAV files that `pak create` stores and the names it stores them under.

#include <string>
#include <vector>

struct InputFile {
  std::string path;  // where it is read from
  std::string name;  // the entry's path: backslash-separated, relative
};

// The files that `arguments` name, in order: a file stands for itself,
// named by its own file name; a folder for every file below it whose name
// ends in ".wav" (any case), in byte order of their paths, named by their
// paths relative to it. False, after one message per problem (a path that
// cannot be read, a folder without WAV files, a name that unpak would not
// write, two files under one name or names that differ only in ASCII case).
bool ListInputFiles(const std::vector<std::string>& arguments, std::vector<InputFile>* files);
