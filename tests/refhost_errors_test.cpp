// What the reference host refuses, and what its outputs keep: every bad
// input gets one line and an exit status and destroys nothing.

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/support/refhost_runs.h"

namespace {

using namespace refhost_runs;

struct BadInput {
  std::vector<std::string> args;
  int status;
  std::string words;  // in the one line on standard error
};

// The headers of a shared library for another machine (64-bit Arm).
std::string foreign_library() {
#if defined(_WIN32)
  std::string header(0x40 + 24, '\0');
  header.replace(0, 2, "MZ");
  header[0x3c] = 0x40;  // where the PE header begins
  header.replace(0x40, 4, std::string("PE\0\0", 4));
  header[0x44] = '\x64', header[0x45] = '\xaa';  // IMAGE_FILE_MACHINE_ARM64
#else
  std::string header(64, '\0');
  header.replace(0, 7,
                 "\x7f"
                 "ELF\x02\x01\x01");
  header[16] = 3;    // a shared object
  header[18] = 183;  // EM_AARCH64
#endif
  return header;
}

// While it lives, the process's standard input is the file `path`.
struct StandardInputFrom {
  explicit StandardInputFrom(const char* path) {
#if defined(_WIN32)
    saved = _dup(0);
    const int file = _open(path, _O_RDONLY | _O_BINARY);
    _dup2(file, 0);
    _close(file);
#else
    saved = dup(0);
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    dup2(file, 0);
    close(file);
#endif
  }
  ~StandardInputFrom() {
#if defined(_WIN32)
    _dup2(saved, 0);
    _close(saved);
#else
    dup2(saved, 0);
    close(saved);
#endif
  }
  int saved;
};

// Every bad input is refused with one line on standard error and its exit
// status (2: the command line, 1: the scene, the library or an output), and
// leaves every file that was there as it was.
TEST(ReferenceHostErrors, BadInputsAreRefusedAndDestroyNothing) {
  const std::string library = read_file(module_path("ravelTint"));
  const std::map<std::string, std::string> files = {
      {"kept.png", "an earlier image"},
      {"kept.json", "an earlier manifest"},
      {"scene.json", read_file(data_file("small_scene.json"))},
      {"broken.json", "{\n  \"objects\": [\n    {\"name\": }\n]}"},
      {"nan.json", R"({"objects": [NaN]})"},
      {"huge.json", R"({"objects": [{"name": "a", "shape": "sphere",
                        "position": [1e400, 0, 0]}]})"},
      {"cut.json", R"({"objects": [{"name": "ab)"},
      {"utf8.json", "{\"objects\": [{\"name\": \"a\xff\"}]}"},
      {"camera.json", R"({"objects": [], "camera": 42})"},
      {"typo.json", R"({"objects": [{"name": "a", "shape": "box",
                        "positon": [0, 0, 0]}]})"},
      {"look.json", R"({"objects": [], "camera": {"lookAt": [0, 0, 0]}})"},
      {"case.json", R"({"objects": [], "shader": {"Seed": 3}})"},
      {"twice.json", "{\"objects\": [],\n \"objects\": []}"},
      {"zero_byte.json", std::string("{\"objects\": []}\0{\"x\": 1}", 24)},
      {"deep.json", "{\"objects\": " + std::string(100000, '[')},
      {"column.json", "{\"objects\": [{\"name\": \"\xc3\xa9\" x}]}"},
      {"long_key.json",
       "{\"objects\": [], \"" + std::string(100000, 'k') + "\": 1}"},
      {"cone.json", R"({"objects": [{"name": "b", "shape": "cone",
                        "position": [0, 0, 0]}]})"},
      {"large.json", R"({"objects": [{"name": "c", "shape": "box",
                         "position": [0, 0, 0], "size": [1, 2e9, 1]}]})"},
      {"seed.json", R"({"objects": [], "shader": {"seed": 4294967296}})"},
      {"nul_name.json", R"({"objects": [
         {"shape": "box", "name": "a\u0000b", "position": [0, 0, 0]}]})"},
      {"view.json", R"({"objects": [],
         "camera": {"position": [0, 0, 0], "look_at": [1e-170, 0, 0]}})"},
      {"nul_names.txt", std::string("a\n\xc3\xa9x\0y\n", 8)},
      {"lib_copy", library},
      {"bad_names.txt", "a\nb\n\xff\n"},
      {"bad_seed_names.txt", "a\t010\n"},
      {"names.txt", "a\nb\n"},
      {"stdin.png", "this program's standard input"},
      {"truncated_lib", library.substr(0, 4000)},
      {"aarch64_lib", foreign_library()},
  };
  std::filesystem::create_directories("a_folder");
  for (const auto& [name, text] : files)
    std::ofstream(name, std::ios::binary) << text;
#if !defined(_WIN32)
  std::filesystem::remove("dangling.png");
  std::filesystem::create_symlink("no_such_target.png", "dangling.png");
  std::filesystem::remove("loop.png");
  std::filesystem::create_symlink("loop.png", "loop.png");
  std::filesystem::remove("fifo_lib");
  ASSERT_EQ(mkfifo("fifo_lib", 0600), 0);
#endif
#if defined(_WIN32)
  const std::string program =
      support::program_directory() + "\\refhost_test.exe";
#else
  const std::string program = support::program_directory() + "/refhost_test";
#endif
  const std::vector<std::string> kept = {"--out", "kept.png", "--manifest",
                                         "kept.json"};
  auto with_kept = [&](std::vector<std::string> args) {
    args.insert(args.end(), kept.begin(), kept.end());
    return args;
  };
  auto with_out = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--out", "kept.png"});
    return args;
  };
  const BadInput cases[] = {
    {with_out({"--manifest", "scene.json", "--scene", "scene.json"}), 2,
     "--manifest \"scene.json\": is the scene file"},
    {{"--names", "names.txt", "--manifest", "names.txt"},
     2,
     "--manifest \"names.txt\": is the names file"},
    {with_out({"--manifest", "lib_copy", "--library", "lib_copy"}), 2,
     "--manifest \"lib_copy\": is the library"},
    {{"--manifest", program}, 2, "is this program"},
    {{"--out", "kept.png", "--manifest", "./kept.png"},
     2,
     "--manifest \"./kept.png\": is also --out"},
    {{"--out", "stdin.png", "--manifest", "kept.json"},
     2,
     "--out \"stdin.png\": is this program's standard input, output or "
     "error"},
    {with_out({"--manifest", "a_folder"}), 2,
     "--manifest \"a_folder\": exists and is not a regular file"},
#if !defined(_WIN32)
    {{"--out", "kept.png", "--manifest", "/dev/null"},
     2,
     "--manifest \"/dev/null\": exists and is not a regular file"},
    {with_out({"--manifest", "/dev/stdout"}), 2,
     "--manifest \"/dev/stdout\": names a stream of this process"},
    {with_out({"--manifest", "/proc/self/fd/2"}), 2,
     "names a stream of this process"},
    {{"--out", "dangling.png", "--manifest", "kept.json"},
     1,
     "cannot write --out \"dangling.png\": No such file or directory"},
    {{"--out", "loop.png", "--manifest", "kept.json"},
     1,
     "Too many levels of symbolic links"},
    {with_kept({"--library", "fifo_lib"}), 1,
     "\"fifo_lib\": not a regular file"},
#endif
    {{"--scene", "scene.json", "--out", "kept.png", "--manifest",
      "no_such_dir/m.json"},
     1,
     "cannot write --manifest \"no_such_dir/m.json\": no such folder"},
    {with_kept({"--size", "4294967297x10"}), 2,
     "--size \"4294967297x10\": expected WIDTHxHEIGHT, each a whole number "
     "from 1 to 16384"},
    {with_kept({"--size", "12by4"}), 2, "--size \"12by4\": expected"},
    {with_kept({"--size", "012x4"}), 2, "--size \"012x4\": expected"},
    {with_kept({"--size", ""}), 2, "--size \"\": expected"},
    {with_kept({"--seed", ""}), 2, "--seed \"\": expected a whole number"},
    {with_kept({"--seed", "010"}), 2,
     "--seed \"010\": expected a whole number from -2147483648 to 2147483647, "
     "in decimal without leading zeros"},
    {with_kept({"--seed", "abc\n\x1b[2J"}), 2, "--seed \"abc\\n\\u001b[2J\""},
    {with_kept({"--samples", "0x10"}), 2,
     "--samples \"0x10\": expected a whole number from 1 to 16"},
    {with_kept({"--threads", "+4"}), 2, "--threads \"+4\": expected"},
    {with_kept({"--search", std::string(200, '9')}), 2,
     "...\" (200 bytes): expected"},
    {with_kept({"--scene", ""}), 2, "--scene: must not be empty"},
    {{"--names", "bad_names.txt", "--manifest", "kept.json"},
     1,
     "\"bad_names.txt\": line 3: not valid UTF-8"},
    {{"--names", "bad_seed_names.txt", "--manifest", "kept.json"},
     1,
     "\"bad_seed_names.txt\": line 1: the seed after the tab must be"},
    {with_kept({"--names", "bad_names.txt"}), 2,
     "--out: --names renders nothing"},
    {with_kept({"--separate"}), 2, "--separate: works on --names only"},
    {with_kept({"--close", "0"}), 2,
     "--close \"0\": expected a number above 0"},
    {with_kept({"--library", ""}), 2, "--library: must not be empty"},
    {with_kept({"--samples", "0"}), 2, "--samples"},
    {with_kept({"--bogus"}), 2,
     "\"--bogus\": not an option of refhost; see --help"},
    {with_kept({"--sead", "1"}), 2, "(did you mean --seed?)"},
    {with_kept({"--out", "again.png"}), 2,
     "--out \"kept.png\": given twice (first \"again.png\"); expected once"},
    {with_kept({"--seed"}), 2, "--seed: expected a value after it"},
    {{"--out", "--manifest", "kept.json"}, 2, "--out: expected a value"},
    {with_kept({"--grayscale=maybe"}), 2,
     "--grayscale \"maybe\": expected true or false"},
    {with_kept({"one", "--", "two", "--three"}), 2,
     "\"one\", \"two\", \"--three\", \"--out\""},
    {{"--out", "t.EXR", "--manifest", "kept.json"},
     2,
     "--out \"t.EXR\": expected a file name ending in .png"},
    {with_kept({"--exr", "x.png"}), 2,
     "--exr \"x.png\": expected a file name ending in .exr"},
    {{"--names", "names.txt", "--close", "5", "--manifest", "kept.json"},
     2,
     "--close: --names renders nothing"},
    {with_kept({"--scene", "broken.json"}), 1,
     "\"broken.json\": line 3, column 14: syntax error while parsing value"},
    {with_kept({"--scene", "nan.json"}), 1,
     "\"nan.json\": line 1, column 14: syntax error while parsing value - "
     "invalid literal"},
    {with_kept({"--scene", "huge.json"}), 1,
     "\"huge.json\": line 2, column 38: number overflow parsing '1e400'"},
    {with_kept({"--scene", "cut.json"}), 1, "missing closing quote"},
    {with_kept({"--scene", "utf8.json"}), 1,
     "ill-formed UTF-8 byte; last read: '\"a\\xff'"},
    {with_kept({"--scene", "camera.json"}), 1,
     "\"camera.json\": camera: expected an object"},
    {with_kept({"--scene", "typo.json"}), 1,
     "\"typo.json\": objects[0]: unknown key \"positon\" (did you mean "
     "\"position\"?)"},
    {with_kept({"--scene", "look.json"}), 1,
     "camera: unknown key \"lookAt\" (did you mean \"look_at\"?)"},
    {with_kept({"--scene", "case.json"}), 1,
     "shader: unknown key \"Seed\" (did you mean \"seed\"?)"},
    {with_kept({"--scene", "twice.json"}), 1,
     "scene: duplicate key \"objects\" at line 2, column 2"},
    {with_kept({"--scene", "zero_byte.json"}), 1,
     "\"zero_byte.json\": line 1, column 16: a NUL byte"},
    {with_kept({"--scene", "deep.json"}), 1,
     "\"deep.json\": objects[0]: expected an object"},
    {with_kept({"--scene", "column.json"}), 1,
     "\"column.json\": line 1, column 27: syntax error"},
    {with_kept({"--scene", "long_key.json"}), 1, "kkk...\" (100000 bytes)\n"},
    {with_kept({"--scene", "cone.json"}), 1, "\"cone.json\": objects[0].shape"},
    {with_kept({"--scene", "large.json"}), 1,
     "objects[0].size[1]: sizes must be at most 1e9"},
    {with_kept({"--scene", "seed.json"}), 1, "\"seed.json\": shader.seed"},
    {with_kept({"--scene", "nul_name.json"}), 1,
     "\"nul_name.json\": line 2, column 35: objects[0].name: a name may not "
     "hold U+0000"},
    {with_kept({"--scene", "view.json"}), 1,
     "\"view.json\": line 2, column 20: camera: look_at is too near"},
    {{"--names", "nul_names.txt", "--manifest", "kept.json"},
     1,
     "\"nul_names.txt\": line 2, column 3: a NUL byte"},
    {with_kept({"--scene", "a_folder"}), 1,
     "\"a_folder\": is a directory, not a scene file"},
    {with_kept({"--scene", "no_such_scene.json"}), 1,
     "\"no_such_scene.json\": no such file"},
    {with_kept({"--library", "no_such_library.so"}), 1,
     "cannot load the library \"no_such_library.so\""},
    {with_kept({"--library", "truncated_lib"}), 1,
     "\"truncated_lib\": truncated: 4000 of "},
    {with_kept({"--library", "aarch64_lib"}), 1,
     "\"aarch64_lib\": not a library for x86-64"},
    {with_kept({"--library", module_path("generic_host_a")}), 1,
     "not a ravelTint library (no ravelTint_version)"},
    {with_kept({"--library", module_path("fake_library")}), 1,
     "shader version " + std::to_string(RAVELTINT_SHADER_VERSION + 1) +
         ", but this host needs version " +
         std::to_string(RAVELTINT_SHADER_VERSION)},
  };
  const StandardInputFrom standard_input("stdin.png");
  for (const BadInput& input : cases) {
    const Outcome outcome = run(input.args);
    EXPECT_EQ(outcome.status, input.status) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("refhost: error: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(input.words), std::string::npos)
        << outcome.err << " lacks " << input.words;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
        << outcome.err;
    for (const auto& [name, text] : files)
      EXPECT_EQ(read_file(name), text) << name << " after " << outcome.err;
  }
  EXPECT_TRUE(std::filesystem::is_directory("a_folder"));
#if !defined(_WIN32)
  EXPECT_TRUE(std::filesystem::is_symlink("dangling.png"));
#endif
}

// Holds a file as a live run holds its temporaries: locked on Linux, open
// without shared deletion on Windows.
struct LiveFile {
  explicit LiveFile(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "a run still writing";
#if defined(_WIN32)
    file.open(path, std::ios::binary | std::ios::app);
#else
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    flock(fd, LOCK_EX);
#endif
  }
  ~LiveFile() {
#if !defined(_WIN32)
    close(fd);
#endif
  }
#if defined(_WIN32)
  std::ofstream file;
#else
  int fd;
#endif
};

// A run replaces the files it names, keeps their permissions, writes names as
// long as the system allows, and clears the temporaries that no live run
// holds, never one that a live run holds, whatever its process number (a
// run in a container may have this one's).
TEST(ReferenceHostErrors, OutputsKeepWhatTheyShouldAndLoseTheDead) {
  const std::string host = common::platform::host_name();
  const std::string dead = ".refhost-" + host + "-999999999.0.partial";
  std::ofstream(dead, std::ios::binary) << "left by a killed run";
  const std::string live = common::temporary_name(0);
  {
    const LiveFile held(live);
    std::ofstream("mine.png", std::ios::binary) << "old";
#if !defined(_WIN32)
    ASSERT_EQ(chmod("mine.png", 0600), 0);
#endif
    ASSERT_EQ(render_small("mine").status, 0);
    EXPECT_FALSE(exists(dead));
    EXPECT_TRUE(exists(live));
  }
  std::filesystem::remove(live);
#if !defined(_WIN32)
  struct stat status;
  ASSERT_EQ(stat("mine.png", &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  const std::string longest(250, 'n');  // and ".json": 255 bytes
  const Outcome outcome = render_small(longest);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(exists(longest + ".png"));
#endif
}

// Names reach a person's terminal quoted and escaped, never raw.
TEST(ReferenceHostErrors, NamesArePrintedEscaped) {
  std::ofstream("names.json", std::ios::binary) << R"({"objects": [
      {"name": "x\n\u001b[2J\u0007y", "shape": "sphere", "position": [0, 0, 0]},
      {"name": "x\n\u001b[2J\u0007y", "shape": "sphere", "position": [2, 0, 0]}]})";
  const Outcome outcome = run({"--scene", "names.json", "--size", "16x16",
                               "--out", "names.png", "--manifest", "n.json"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find(R"("x\n\u001b[2J\u0007y", "x\n\u001b[2J\u0007y")"),
            std::string::npos)
      << outcome.out;
  EXPECT_EQ(outcome.out.find('\x1b'), std::string::npos);
}

// A bare file name is the file in the current folder, as a person expects.
TEST(ReferenceHostErrors, BareLibraryNameIsInTheCurrentFolder) {
  const std::string library = module_path("ravelTint");
  const std::string copy =
      "copied_" + library.substr(library.find_last_of("/\\") + 1);
  if (!exists(copy)) std::filesystem::copy_file(library, copy);
  const Outcome outcome = render_small("bare", {"--library", copy});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
}

}  // namespace
