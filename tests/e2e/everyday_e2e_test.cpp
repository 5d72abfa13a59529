// pak and unpak as people use them day to day, through the real binaries in
// a shell: extracting to a pipe, keeping edited files, paths as listed,
// damage said out loud, and the answers to common slips.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace unpak {

namespace {

// sound.pak, damaged.pak (a sound entry, then one with junk inside its MP3
// stream), and ref/ holding what unpak writes for sound.pak.
struct Archives {
  TempDir dir;
  std::vector<MusicEntry> sound{PlainMusicEntry("Music\\Theme.wav", StereoClip(), 2, 16),
                                PlainMusicEntry("sfx\\door1.wav", MonoClip(), 1, 8),
                                PlainMusicEntry("voix\\\xC3\xA9t\xC3\xA9.wav", MonoClip(), 1, 16)};
  MusicEntry garbage = PlainMusicEntry("garbage.wav", MonoClip(), 1, 16);

  Archives() {
    std::vector<PakEntrySource> sources;
    for (const MusicEntry& entry : sound) sources.push_back(PakSource(entry));
    EXPECT_TRUE(WriteBytes(dir.path / "sound.pak", BuildPak(sources, 0)));
    for (size_t i = 100; i < 400; ++i) garbage.mp3[i] = static_cast<uint8_t>(i * 37);
    garbage = WithParts(garbage, *garbage.cap);
    EXPECT_TRUE(WriteBytes(dir.path / "damaged.pak",
                           BuildPak({PakSource(sound[1]), PakSource(garbage)}, 0)));
    std::filesystem::create_directory(dir.path / "ref");
    EXPECT_EQ(RunUnpak("../sound.pak", dir.path / "ref").exitStatus, 0);
  }
};

struct Row {
  const char* what;
  // Run by bash in an empty folder, with $P the pak binary, $U unpak's and
  // $A the folder of the archives.
  std::string script;
  int status;
  std::vector<std::string> outParts, errParts;
  std::vector<std::string> tree;  // the folder afterwards
};

TEST(Everyday, CommandsBehaveAsPeopleExpect) {
  const Archives a;
  const std::string theme = ExpectedLine(a.sound[0]), door = ExpectedLine(a.sound[1]);
  const Row rows[] = {
      {"-O writes whole files in archive order, only there, transcript on standard error",
       "$P extract -O $A/sound.pak 'voix/*' 'MUSIC/*' | cmp - <(cat $A/ref/Music/Theme.wav "
       "$A/ref/voix/*) && echo same",
       0,
       {"same\n"},
       {theme + ExpectedLine(a.sound[2])},
       {}},
      {"-O stops quietly with status 1 when the reader goes away",
       "$P extract -O -j1 $A/sound.pak 2>err | head -c1 >/dev/null; echo ${PIPESTATUS[0]}; "
       "grep -c pak: err; rm err",
       0,
       {"1\n0\n"},
       {},
       {}},
      {"-O into a closed standard output",
       "$P extract -O $A/sound.pak >&-",
       2,
       {},
       {"pak: standard output is closed: the WAV data has nowhere to go\n"},
       {}},
      {"a path as listed selects its entry; letter case is ignored for UTF-8 too",
       "$P extract $A/sound.pak 'sfx\\DOOR1.wav' '*\xC3\x89T\xC3\x89*'",
       0,
       {door},
       {},
       {"sfx/", "sfx/door1.wav", "voix/", "voix/\xC3\xA9t\xC3\xA9.wav"}},
      {"list takes patterns",
       "$P list $A/sound.pak 'music/*' nothing",
       1,
       {"Music\\Theme.wav", "  1 entries ("},
       {"no entry matches nothing\n"},
       {}},
      {"test takes patterns",
       "$P test $A/sound.pak 'sfx\\door1.wav'",
       0,
       {"1 entries tested: 1 ok"},
       {},
       {}},
      {"-k keeps an edited read-only file and skips its entry",
       "mkdir sfx && echo edit >sfx/door1.wav && chmod 444 sfx/door1.wav && "
       "$P extract -k $A/sound.pak 'sfx/*' && cat sfx/door1.wav",
       0,
       {"Skipping sfx\\door1.wav : kept the existing file\nedit\n"},
       {},
       {"sfx/", "sfx/door1.wav"}},
      {"--keep-newer-files keeps only what changed after the archive",
       "mkdir sfx Music && echo edit >sfx/door1.wav && touch -d 2100-01-01 sfx/door1.wav && "
       "echo old >Music/Theme.wav && touch -d 2000-01-01 Music/Theme.wav && "
       "$P extract --keep-newer-files $A/sound.pak 'sfx/*' 'music/*' >/dev/null && "
       "cat sfx/door1.wav && cmp Music/Theme.wav $A/ref/Music/Theme.wav && echo replaced",
       0,
       {"edit\nreplaced\n"},
       {},
       {"Music/", "Music/Theme.wav", "sfx/", "sfx/door1.wav"}},
      {"extract names the damage after the entry's line and fails",
       "$P extract -j2 $A/damaged.pak 2>&1",
       1,
       {"#\npak: entry 1 (garbage.wav): damaged: the decoder had to skip "},
       {},
       {"garbage.wav", "sfx/", "sfx/door1.wav"}},
      {"unpak names the damage too, with status 0 for a file it wrote",
       "$U $A/damaged.pak 2>&1",
       0,
       {"#\nunpak: entry 1 (garbage.wav): damaged: the decoder had to skip "},
       {},
       {"garbage.wav", "sfx/", "sfx/door1.wav"}},
      {"an unknown command is named, with the nearest one",
       "$P lst $A/sound.pak",
       2,
       {},
       {"pak: unknown command 'lst'; did you mean 'list'?\npak: 'pak --help' lists the "
        "commands\n"},
       {}},
      {"unpak --help and --version answer; ./--help is an archive",
       "$U --help && $U --version && $U ./--help",
       255,
       {"Usage: ", "\nunpak "},
       {"unpak: ./--help: cannot open"},
       {}},
      {"-C makes no folder when nothing is written",
       "$P extract -C out/here $A/sound.pak none",
       1,
       {},
       {"no entry matches none"},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir work;
    const ProgramResult result =
        RunProgram("/bin/bash",
                   {"bash", "-c", "P=\"$0\" U=\"$1\" A=\"$2\"; " + row.script, UNPAK_PAK_BINARY,
                    UNPAK_BINARY, a.dir.path.string()},
                   work.path);
    EXPECT_EQ(result.exitStatus, row.status) << result.err;
    for (const std::string& part : row.outParts) {
      EXPECT_NE(result.out.find(part), std::string::npos) << part << "\nin\n" << result.out;
    }
    for (const std::string& part : row.errParts) {
      EXPECT_NE(result.err.find(part), std::string::npos) << part << "\nin\n" << result.err;
    }
    EXPECT_EQ(ListTree(work.path), row.tree);
  }
}

}  // namespace

}  // namespace unpak
