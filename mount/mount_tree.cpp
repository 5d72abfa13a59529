#include "mount/mount_tree.h"

#include <cstring>

#include "convert/stream_damage.h"
#include "platform/mpeg_layer3.h"
#include "run/entry_inspection.h"

namespace unpak {

namespace {

// Source samples that resampling may lose at the stream's ends.
constexpr uint64_t kResamplerMarginSamples = 64;

// Whether the output's size is surely the one its entry states: a stated
// decoded length, a stream without damage, and frames enough to fill that
// length after the codec delay (with a margin for the resampler's rounding
// where the rates differ). Otherwise the audio may come out shorter.
bool SizeIsExact(const EntryView& view, const EntryFacts& facts) {
  if (!facts.layout.hasDecodedLength || facts.decoded.nBlockAlign == 0 ||
      facts.source.nSamplesPerSec == 0) {
    return false;
  }
  const StreamDamage damage = FindEntryStreamDamage(view.payload, view.payloadSize,
                                                    facts.layout.dataStart,
                                                    facts.layout.compressedSize);
  if (!DescribeDamage(damage).empty()) return false;
  const uint64_t frameSamples = Layer3FrameSamples(facts.source.nSamplesPerSec);
  const uint64_t samples = uint64_t{damage.frames} * frameSamples;
  const uint64_t resamplerMargin =
      facts.decoded.nSamplesPerSec != facts.source.nSamplesPerSec ? kResamplerMarginSamples : 0;
  const uint64_t unusable = facts.mpeg.nCodecDelay + resamplerMargin;
  if (samples <= unusable) return false;
  const uint64_t decodable =
      (samples - unusable) * facts.decoded.nSamplesPerSec / facts.source.nSamplesPerSec;
  return facts.layout.decodedLength / facts.decoded.nBlockAlign <= decodable;
}

MountNode Folder(const std::string& name) {
  MountNode folder;
  folder.name = name;
  folder.isFolder = true;
  return folder;
}

// The folder `name` in `folder`, made when missing; -1 when a file stands there.
int64_t FolderIn(MountTree& tree, uint32_t folder, const std::string& name) {
  const auto found = tree.nodes[folder].children.find(name);
  if (found != tree.nodes[folder].children.end()) {
    return tree.nodes[found->second].isFolder ? found->second : -1;
  }
  const auto node = static_cast<uint32_t>(tree.nodes.size());
  tree.nodes.push_back(Folder(name));
  tree.nodes[folder].children.emplace(name, node);
  return node;
}

// Puts the file at `path`, replacing an earlier entry's file there. False,
// with the reason, when a file stands where a folder is needed, or a folder
// at the file's path.
bool PlaceFile(MountTree& tree, const std::string& path, MountNode file, std::string* reason) {
  uint32_t folder = 0;
  size_t start = 0;
  for (size_t slash; (slash = path.find('\\', start)) != std::string::npos; start = slash + 1) {
    const int64_t next = FolderIn(tree, folder, path.substr(start, slash - start));
    if (next < 0) {
      *reason = "cannot create its folder: an earlier entry's file stands there";
      return false;
    }
    folder = static_cast<uint32_t>(next);
  }
  file.name = path.substr(start);
  const auto found = tree.nodes[folder].children.find(file.name);
  if (found == tree.nodes[folder].children.end()) {
    tree.files[file.entry] = static_cast<uint32_t>(tree.nodes.size());
    tree.nodes[folder].children.emplace(file.name, static_cast<uint32_t>(tree.nodes.size()));
    tree.nodes.push_back(std::move(file));
    return true;
  }
  MountNode& earlier = tree.nodes[found->second];
  if (earlier.isFolder) {
    *reason = "an earlier entry's folder stands at its path";
    return false;
  }
  tree.files.erase(earlier.entry);
  tree.files[file.entry] = found->second;
  earlier = std::move(file);
  return true;
}

}  // namespace

MountTree BuildMountTree(const OpenedArchive& archive) {
  MountTree tree;
  tree.nodes.push_back(Folder(""));
  for (uint32_t index = 0; index < archive.header.entryCount; ++index) {
    PakEntry entry;
    EntryView view;
    EntryFacts facts;
    std::string reason;
    bool ok = InspectArchiveEntry(archive, index, &entry, &view, &facts, &reason);
    const std::string path = view.path != nullptr ? view.path : "";
    if (ok) {
      MountNode file;
      file.entry = index;
      file.statedSize = facts.outputSize;
      file.sizeIsExact = SizeIsExact(view, facts);
      ok = PlaceFile(tree, path, std::move(file), &reason);
    }
    if (!ok) ReportEntryProblem(index, path, reason);
  }
  return tree;
}

int64_t FindMountNode(const MountTree& tree, const char* path) {
  uint32_t node = 0;
  while (*path != '\0') {
    while (*path == '/') ++path;
    if (*path == '\0') break;
    const char* end = std::strchr(path, '/');
    const size_t length = end != nullptr ? static_cast<size_t>(end - path) : std::strlen(path);
    const MountNode& folder = tree.nodes[node];
    const auto found = folder.children.find(std::string(path, length));
    if (!folder.isFolder || found == folder.children.end()) return -1;
    node = found->second;
    path += length;
  }
  return node;
}

}  // namespace unpak
