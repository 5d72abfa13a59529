#pragma once

// The folders and files a mounted archive shows: every entry that unpak
// would write, at its path, with backslashes as folders.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/entry_selection.h"

namespace unpak {

struct MountNode {
  std::string name;
  bool isFolder = false;
  uint32_t entry = 0;         // a file's archive index
  uint64_t statedSize = 0;    // a file's size as its entry states it, as pak list shows it
  bool sizeIsExact = false;   // false: the stream may decode shorter, only decoding tells
  std::map<std::string, uint32_t> children;  // a folder's nodes, by name
};

struct MountTree {
  std::vector<MountNode> nodes;         // nodes[0] is the root folder
  std::map<uint32_t, uint32_t> files;  // each shown entry's node, by archive index
};

// Builds the tree in archive order. An entry that unpak refuses is reported
// once and left out; of two entries at one path the later one is shown, as
// a run leaves it; an entry whose path needs a folder where an earlier file
// stands, or the reverse, is left out, as a run fails it.
MountTree BuildMountTree(const OpenedArchive& archive);

// The node at `path` ("/" is the root, "/sfx/door.wav" a file), or -1.
int64_t FindMountNode(const MountTree& tree, const char* path);

}  // namespace unpak
