#define FUSE_USE_VERSION 35
#include "mount/archive_mount.h"

#include <fuse3/fuse.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "archive/pak_file.h"
#include "mount/mount_tree.h"
#include "platform/console.h"
#include "platform/mapped_file.h"
#include "run/entry_inspection.h"

namespace unpak {

namespace {

// Attributes never change while mounted: the kernel may keep them and the
// files' pages as long as it likes.
constexpr double kAttributeSeconds = 24 * 3600;

struct MountedArchive {
  MappedFilePtr file;
  OpenedArchive archive;
  MountTree tree;
  EntryCache cache;
  unsigned workers = 0;
  unsigned decodeAhead = 0;
  std::mutex sizesMutex;
  std::unordered_map<uint32_t, uint64_t> decodedSizes;  // of files whose size only decoding tells
  std::set<uint32_t> reported;                          // entries whose failure was reported
};

// An open file: its entry, and its decoded file once read.
struct OpenedFile {
  uint32_t node = 0;
  std::mutex mutex;
  std::shared_ptr<const DecodedEntry> decoded;
};

MountedArchive& Mounted() {
  return *static_cast<MountedArchive*>(fuse_get_context()->private_data);
}

// Reports the entry's failure once (on standard error, while there is one).
void ReportOnce(MountedArchive& mounted, uint32_t node, const std::string& reason) {
  const MountNode& file = mounted.tree.nodes[node];
  std::lock_guard<std::mutex> lock(mounted.sizesMutex);
  if (!mounted.reported.insert(file.entry).second) return;
  PakEntry entry = ReadPakEntry(mounted.archive.data, mounted.archive.header, file.entry);
  EntryView view;
  std::string ignored;
  ResolvePakEntry(mounted.archive.data, mounted.archive.size, mounted.archive.header, entry, &view,
                  &ignored);
  ReportEntryProblem(file.entry, view.path != nullptr ? view.path : "", reason);
}

// The entry's file decoded, or null. A file whose size was shown as stated
// and decodes to another is refused, so a file never reads with another size
// than it shows; one whose size only decoding tells keeps what it decoded to.
std::unique_ptr<DecodedEntry> DecodeShown(MountedArchive& mounted, uint32_t index, bool inMemory,
                                          bool onDemand) {
  const uint32_t node = mounted.tree.files.at(index);
  const MountNode& file = mounted.tree.nodes[node];
  std::string reason;
  ConsoleCapture transcript;  // the progress marks go nowhere
  std::unique_ptr<DecodedEntry> decoded;
  {
    const ScopedConsoleCapture capture(transcript);
    decoded = DecodeArchiveEntry(mounted.archive, mounted.file->fd, index, inMemory,
                                 onDemand && file.sizeIsExact, &reason);
  }
  if (decoded && file.sizeIsExact && decoded->size != file.statedSize) {
    reason = "decodes to " + std::to_string(decoded->size) + " bytes, not the " +
             std::to_string(file.statedSize) + " it states; it cannot be read";
    decoded.reset();
  }
  if (!decoded) {
    ReportOnce(mounted, node, reason);
    return nullptr;
  }
  if (!file.sizeIsExact) {
    std::lock_guard<std::mutex> lock(mounted.sizesMutex);
    mounted.decodedSizes.emplace(index, decoded->size);
  }
  return decoded;
}

// The entry's decoded file, for a file opened and read. The entries after it
// in archive order are queued first, to be decoded on the workers while this
// one is, for a reader going through them in turn.
std::shared_ptr<const DecodedEntry> Acquire(MountedArchive& mounted, uint32_t node) {
  const uint32_t index = mounted.tree.nodes[node].entry;
  auto next = mounted.tree.files.upper_bound(index);
  for (unsigned i = 0; i < mounted.decodeAhead && next != mounted.tree.files.end(); ++i, ++next) {
    if (!DecodeAhead(mounted.cache, next->first, mounted.tree.nodes[next->second].statedSize)) {
      break;
    }
  }
  return AcquireDecoded(mounted.cache, index, mounted.tree.nodes[node].statedSize);
}

// The file's size: as stated, or as it decodes. -errno when it cannot be decoded.
int64_t FileSize(MountedArchive& mounted, uint32_t node) {
  const MountNode& file = mounted.tree.nodes[node];
  if (file.sizeIsExact) return static_cast<int64_t>(file.statedSize);
  {
    std::lock_guard<std::mutex> lock(mounted.sizesMutex);
    const auto known = mounted.decodedSizes.find(file.entry);
    if (known != mounted.decodedSizes.end()) return static_cast<int64_t>(known->second);
  }
  const std::shared_ptr<const DecodedEntry> decoded =
      AcquireDecoded(mounted.cache, file.entry, file.statedSize);
  return decoded ? static_cast<int64_t>(decoded->size) : -EIO;
}

void* Init(fuse_conn_info*, fuse_config* config) {
  config->kernel_cache = 1;
  config->entry_timeout = kAttributeSeconds;
  config->attr_timeout = kAttributeSeconds;
  config->negative_timeout = kAttributeSeconds;
  MountedArchive& mounted = Mounted();
  // After detaching: threads do not survive the fork.
  StartDecodeWorkers(mounted.cache, mounted.workers);
  return &mounted;
}

int GetAttributes(const char* path, struct stat* info, fuse_file_info*) {
  MountedArchive& mounted = Mounted();
  const int64_t node = FindMountNode(mounted.tree, path);
  if (node < 0) return -ENOENT;
  *info = {};
  info->st_uid = getuid();
  info->st_gid = getgid();
  info->st_mtim = info->st_ctim = info->st_atim = mounted.archive.modified;
  if (mounted.tree.nodes[node].isFolder) {
    info->st_mode = S_IFDIR | 0555;
    info->st_nlink = 2;
    return 0;
  }
  const int64_t size = FileSize(mounted, static_cast<uint32_t>(node));
  if (size < 0) return static_cast<int>(size);
  info->st_mode = S_IFREG | 0444;
  info->st_nlink = 1;
  info->st_size = size;
  info->st_blocks = (size + 511) / 512;
  return 0;
}

int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags) {
  MountedArchive& mounted = Mounted();
  const int64_t node = FindMountNode(mounted.tree, path);
  if (node < 0) return -ENOENT;
  const MountNode& folder = mounted.tree.nodes[node];
  if (!folder.isFolder) return -ENOTDIR;
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  for (const auto& [name, child] : folder.children) {
    fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
  }
  return 0;
}

int Open(const char* path, fuse_file_info* info) {
  MountedArchive& mounted = Mounted();
  const int64_t node = FindMountNode(mounted.tree, path);
  if (node < 0) return -ENOENT;
  if (mounted.tree.nodes[node].isFolder) return -EISDIR;
  if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  auto* opened = new OpenedFile;
  opened->node = static_cast<uint32_t>(node);
  info->fh = reinterpret_cast<uint64_t>(opened);
  info->keep_cache = 1;
  return 0;
}

// Hands libfuse the decoded file's descriptor and offset to read the reply
// from, once the bytes asked for are there. (Splicing it to the kernel
// measured slower than copying.)
int ReadBuffer(const char*, fuse_bufvec** out, size_t size, off_t offset, fuse_file_info* info) {
  MountedArchive& mounted = Mounted();
  auto* opened = reinterpret_cast<OpenedFile*>(info->fh);
  std::shared_ptr<const DecodedEntry> decoded;
  {
    std::lock_guard<std::mutex> lock(opened->mutex);
    if (!opened->decoded) opened->decoded = Acquire(mounted, opened->node);
    decoded = opened->decoded;  // the open file keeps it, and its descriptor, until released
  }
  if (!decoded) return -EIO;
  const auto start = static_cast<uint64_t>(offset);
  std::string reason;
  if (!FillDecoded(mounted.archive, mounted.file->fd, *decoded, start, start + size, &reason)) {
    ReportOnce(mounted, opened->node, reason);
    return -EIO;
  }
  auto* buffers = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
  if (buffers == nullptr) return -ENOMEM;
  *buffers = FUSE_BUFVEC_INIT(start < decoded->size ? std::min<uint64_t>(size, decoded->size - start)
                                                    : 0);
  buffers->buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
  buffers->buf[0].fd = decoded->file->fd;
  buffers->buf[0].pos = offset;
  *out = buffers;
  return 0;
}

int Release(const char*, fuse_file_info* info) {
  delete reinterpret_cast<OpenedFile*>(info->fh);
  return 0;
}

void Destroy(void* data) { StopDecodeWorkers(static_cast<MountedArchive*>(data)->cache); }

fuse_operations Operations() {
  fuse_operations operations{};
  operations.getattr = GetAttributes;
  operations.readdir = ReadFolder;
  operations.open = Open;
  operations.read_buf = ReadBuffer;
  operations.release = Release;
  operations.init = Init;
  operations.destroy = Destroy;
  return operations;
}

// A value for a -o option: commas and backslashes escaped.
std::string OptionValue(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == ',' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

struct FuseDestroyer {
  void operator()(fuse* instance) const { fuse_destroy(instance); }
};
using FusePtr = std::unique_ptr<fuse, FuseDestroyer>;

FusePtr NewFuse(const std::string& archive, MountedArchive* mounted) {
  fuse_args arguments = FUSE_ARGS_INIT(0, nullptr);
  const std::string options =
      "ro,default_permissions,subtype=pak,fsname=" + OptionValue(archive);
  for (const char* argument : {"pak", "-o", options.c_str()}) {
    fuse_opt_add_arg(&arguments, argument);
  }
  const fuse_operations operations = Operations();
  FusePtr instance(fuse_new(&arguments, &operations, sizeof operations, mounted));
  fuse_opt_free_args(&arguments);
  return instance;
}

// Serves requests on as many threads as they need, until unmounted or
// stopped by a signal (libfuse's handlers take the place of the cleanup
// ones: nothing named is left to remove, and the mount must be undone).
void Serve(fuse* instance) {
  fuse_session* session = fuse_get_session(instance);
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(number, SIG_DFL);
  fuse_set_signal_handlers(session);
  fuse_loop_config config{};
  config.clone_fd = 0;
  config.max_idle_threads = 10;
  fuse_loop_mt(instance, &config);
  fuse_remove_signal_handlers(session);
}

}  // namespace

MountStatus MountArchive(const MountOptions& options) {
  auto mounted = std::make_unique<MountedArchive>();
  std::string reason;
  const char* path = options.archive.c_str();
  mounted->file = OpenPakFile(path, &mounted->archive.header, &reason);
  if (!mounted->file) {
    ConsoleError("%s: %s", path, reason.c_str());
    return MountStatus::kArchiveUnreadable;
  }
  struct stat info;
  fstat(mounted->file->fd, &info);
  mounted->archive = {path, mounted->file->data, mounted->file->size, mounted->archive.header,
                      info.st_mtim};
  mounted->tree = BuildMountTree(mounted->archive);
  if (MappedBytesLost(mounted->file->data, mounted->file->size)) {
    ConsoleError("%s: cannot be read (it changed while being read, or an I/O error)", path);
    return MountStatus::kArchiveUnreadable;
  }
  mounted->cache.limits = options.cache;
  mounted->cache.decode = [archive = mounted.get()](uint32_t index, bool inMemory,
                                                    bool onDemand) {
    return DecodeShown(*archive, index, inMemory, onDemand);
  };
  mounted->workers = options.workers;
  mounted->decodeAhead = options.decodeAhead;

  FusePtr instance = NewFuse(options.archive, mounted.get());
  if (!instance) {
    ConsoleError("cannot set up the mount");
    return MountStatus::kMountFailed;
  }
  // Unmounting names it by its full path: a detached process works from "/".
  std::unique_ptr<char, decltype(&free)> mountPoint(realpath(options.mountPoint.c_str(), nullptr),
                                                    &free);
  if (!mountPoint) {
    ConsoleError("%s: %s", options.mountPoint.c_str(), std::strerror(errno));
    return MountStatus::kMountFailed;
  }
  if (fuse_mount(instance.get(), mountPoint.get()) != 0) {
    ConsoleError("%s: cannot mount the archive there", options.mountPoint.c_str());
    return MountStatus::kMountFailed;
  }
  if (fuse_daemonize(options.foreground ? 1 : 0) != 0) {
    fuse_unmount(instance.get());
    ConsoleError("cannot run in the background");
    return MountStatus::kMountFailed;
  }
  Serve(instance.get());
  fuse_unmount(instance.get());
  return MountStatus::kUnmounted;
}

}  // namespace unpak
