#pragma once

// The steps that rewrite an existing archive, shared by `pak update`,
// `pak delete` and `pak rename`: the old archive read whole, its records
// and names carried into the new tables, its payloads copied byte for byte
// (each shared one once), and the new archive written under a temporary
// name and put in place when complete.

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/pak_file_writer.h"
#include "archive/pak_reader.h"
#include "convert/entry_facts.h"
#include "create/archive_steps.h"
#include "create/update_archive.h"

namespace unpak {

struct OldArchive {
  std::vector<uint8_t> bytes;
  PakHeader header;
  std::vector<PakEntry> entries;
  std::vector<EntryView> views;
  std::vector<uint8_t> nameTable;  // up to the end of its last name
};

// Reads the whole archive, every entry's name and payload checked to lie
// inside it; false, reported, when it cannot be.
bool ReadOldArchive(const std::string& path, OldArchive* old);

// A rewrite's status from the result of its writing step.
UpdateStatus RewriteStatusOf(StepResult result);

// Locks what stands at `outputPath` and opens the pending file beside it,
// then reads the archive at `archivePath`, in that order, so that a rewrite
// of the same archive running meanwhile is read, not lost. False, reported,
// when either fails.
bool OpenRewrite(const std::string& archivePath, const std::string& outputPath,
                 ArchiveOutput* output, OldArchive* old);

// What the entry states, read as unpak reads it.
bool InspectOldEntry(const EntryView& view, EntryFacts* facts, std::string* reason);

// The old entry's unpacked size, as the archive's header counts it: none for
// an entry that unpak cannot write.
uint64_t OldOutputSize(const EntryView& view);

// The new archive's entry and name tables. Payload offsets and sizes are
// filled in as the payloads are written.
struct NewTables {
  std::vector<PakEntry> records;
  std::vector<uint8_t> nameTable;
};

// An old entry taken into the new archive, under its own name or a new one.
struct CarriedEntry {
  size_t index = 0;
  std::optional<std::string> newName;
};

// The tables of the entries `carried`, in that order: their old records, and
// the name table's bytes that their old names still use, in their old order,
// so that names shared in the old table stay shared; new names after them.
NewTables CarryTables(const OldArchive& old, const std::vector<CarriedEntry>& carried);

// Appends `name` to the name table; returns its offset.
uint32_t AppendName(NewTables& tables, const std::string& name);

// Where the payloads go, and the archive's path and file for messages and
// for telling inputs from it.
struct PayloadTarget {
  PakFileWriter& writer;
  const std::string& path;
  const struct stat* archive;
};

// The old payloads copied so far, by their offset and size in the old
// archive, and their offsets in the new one.
using CarriedPayloads = std::map<std::pair<uint32_t, uint32_t>, uint32_t>;

// Copies the old payload that `record` (still pointing into the old
// archive) points at, unless it was copied already, and points `record` at
// the copy. False, reported, on a write failure.
bool CarryPayload(PayloadTarget& target, const OldArchive& old, PakEntry& record,
                  CarriedPayloads* carried);

// Writes the archive of `tables` through `output`: room for the tables,
// the payloads by `writePayloads` in the records' order, the tables with
// `totalUnpackedSize`; then puts it at `path`.
using PayloadSteps = std::function<StepResult(PayloadTarget&, std::vector<PakEntry>&)>;
StepResult WriteRewrittenArchive(ArchiveOutput& output, const std::string& path, NewTables& tables,
                                 uint64_t totalUnpackedSize, const PayloadSteps& writePayloads);

// Writes the old entries `carried`, byte for byte, through `output` as a
// new archive at `path`, with the header's total recomputed.
StepResult WriteCarriedEntries(const OldArchive& old, const std::vector<CarriedEntry>& carried,
                               ArchiveOutput& output, const std::string& path);

}  // namespace unpak
