// Whole runs of the refhost program: killed in the middle of their commit,
// racing each other, refused by the machine, or waiting on another run.
#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/refhost_runs.h"
#include "tests/support/spawn.h"
#include "tools/common/exr_file.h"

namespace {

using namespace refhost_runs;

using testing_support::start;
using testing_support::wait_for;

// The status waitpid gives, which tells a signal from an exit.
int raw_status(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

std::vector<std::string> refhost_run(const std::string& stem,
                                     const std::string& seed) {
  return {program_directory() + "/refhost",
          "--scene",
          data_file("small_scene.json"),
          "--seed",
          seed,
          "--samples",
          "1",
          "--out",
          stem + ".png",
          "--manifest",
          stem + ".json"};
}

// Every destination is a whole file: the PNG one that a manifest names, and
// no temporary is left in the folder.
void expect_whole_pair(const std::string& stem) {
  const json manifest = json::parse(read_file(stem + ".json"));
  EXPECT_EQ(manifest["image"]["png"]["sha256"],
            common::platform::sha256_hex(read_file(stem + ".png")));
  for (const auto& entry : std::filesystem::directory_iterator("."))
    EXPECT_EQ(entry.path().filename().string().rfind(".refhost-", 0),
              std::string::npos)
        << entry.path();
}

// strace sends the signal itself, as the run enters its second rename: the
// image is in place, the manifest not yet. No process is looked for and
// nothing waits on the clock, so a loaded machine gives the same outcome.
TEST(ReferenceHostCommit, SurvivesASignalBetweenItsRenames) {
  // Without strace this test cannot run, and a test that cannot run must
  // not pass: the test command installs strace.
  ASSERT_EQ(std::system("strace -V >/dev/null 2>&1"), 0)
      << "strace is not installed";
  const std::string renames = "rename,renameat,renameat2";
  for (const char* signal : {"SIGTERM", "SIGINT", "SIGKILL"}) {
    ASSERT_EQ(wait_for(start(refhost_run("killed", "1"))), 0);
    const std::string old_png = read_file("killed.png");
    const std::string old_manifest = read_file("killed.json");
    std::vector<std::string> args = {
        "strace", "-f",
        "-o",     "/dev/null",
        "-e",     "trace=" + renames,
        "-e",     "inject=" + renames + ":signal=" + signal + ":when=2"};
    for (const auto& a : refhost_run("killed", "2")) args.push_back(a);
    const int status = wait_for(start(args));
    EXPECT_NE(status, 0) << signal;  // killed, or failed
    EXPECT_NE(read_file("killed.png"), old_png) << signal;
    if (std::string(signal) == "SIGKILL") {
      // Killed before its second rename: the new image beside the old,
      // whole manifest, and a temporary that the next run clears.
      EXPECT_EQ(read_file("killed.json"), old_manifest);
      ASSERT_EQ(wait_for(start(refhost_run("killed", "3"))), 0);
    } else {
      // The signal waited for the commit.
      EXPECT_NE(read_file("killed.json"), old_manifest) << signal;
    }
    expect_whole_pair("killed");
  }
}

// Runs that write the same outputs at once commit one after the other: the
// image and the manifest always come from the same run.
TEST(ReferenceHostCommit, RacingRunsLeaveAMatchingPair) {
  for (int round = 0; round < 100; ++round) {
    const auto a = start(refhost_run("raced", "4"));
    const auto b = start(refhost_run("raced", "5"));
    EXPECT_EQ(wait_for(a), 0);
    EXPECT_EQ(wait_for(b), 0);
    expect_whole_pair("raced");
  }
}

// Runs `args` with standard output a pipe that no one reads any more, as
// `| head -c 0` leaves it; returns the exit status and standard error.
std::pair<int, std::string> run_into_closed_pipe(
    const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, "no pipe"};
  close(fds[0]);
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int err = open("pipe_err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fds[1], 1), dup2(err, 2);
    signal(SIGPIPE, SIG_DFL);  // as a shell starts a pipeline
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  const int status = raw_status(child);
  return {status, read_file("pipe_err.txt")};
}

// What the machine refuses a run of either tool gets one clear line and an
// exit status, never an abort: a file size limit (a full disk), memory too
// small for the threads' stacks or the image, a full device or a closed
// pipe as standard output. The threads' stacks are as large as the test
// sets them (a thread's default stack is the stack limit), so that the
// thread that cannot start does not depend on the machine's defaults.
TEST(ReferenceHostCommit, HostileConditionsGetOneClearAnswer) {
  struct Condition {
    std::string shell, program, args, out;
    int status;
    std::string said;
    bool needs_plain_build;  // address limits stop a sanitizer's runtime
  };
  ASSERT_EQ(render_small("hostile.0001").status, 0);
  std::filesystem::copy_file("hostile.0001.png", "hostile.0002.png",
                             std::filesystem::copy_options::overwrite_existing);
  // 3000x3000 black pixels, made a band of rows at a time: 36 MB a channel
  // to hold whole.
  const std::vector<float> band(3000 * 16, 0.0f);
  common::ExrPicture huge;
  huge.width = huge.height = 3000;
  for (const char* name : {"R", "G", "B"})
    huge.channels.push_back({name, band.data(), 1, true});
  huge.band_rows = 16;
  huge.fill_band = [](int, int) {};
  std::ofstream("huge.exr", std::ios::binary) << common::exr_bytes(huge);
  const std::string small = " --scene " + data_file("small_scene.json");
  const std::string matte = "ravelTint-matte";
  const Condition conditions[] = {
      {"ulimit -f 1; trap '' XFSZ;", "refhost",
       small + " --out big.png --manifest hostile.json", "/dev/null", 1,
       "refhost: error: cannot write --out \"big.png\": File too large", false},
      {"ulimit -s 262144; ulimit -v 1500000;", "refhost",
       " --threads 300 --size 64x40 --out t.png --manifest hostile.json",
       "/dev/null", 0,
       "could not start (Resource temporarily unavailable); working with",
       true},
      {"ulimit -v 600000;", "refhost",
       " --size 6000x6000 --samples 1 --exr huge.exr --out huge.png "
       "--manifest hostile.json",
       "/dev/null", 1, "refhost: error: out of memory", true},
      {"", "refhost", " --version", "/dev/full", 1,
       "refhost: error: cannot write to standard output: No space left", false},
      {"", "refhost", small + " --out full.png --manifest hostile.json",
       "/dev/full", 1, "refhost: error: cannot write to standard output",
       false},
      // Every frame goes on with the threads the first could start.
      {"ulimit -s 262144; ulimit -v 2000000;", matte,
       " hostile.####.png --frames 1-2 --threads 1024 --cryptomatte c.####.exr",
       "/dev/null", 0,
       "could not start (Resource temporarily unavailable); working with",
       true},
      {"ulimit -v 200000;", matte, " huge.exr --threads 2 --cryptomatte h.exr",
       "/dev/null", 1, "ravelTint-matte: error: \"huge.exr\": out of memory",
       true},
      {"", matte, " hostile.0001.png", "/dev/full", 1,
       "ravelTint-matte: error: cannot write to standard output: No space left",
       false},
  };
  for (const Condition& c : conditions) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (c.needs_plain_build) continue;
#endif
    const std::string command = c.shell + program_directory() + "/" +
                                c.program + c.args + " 2>&1 >" + c.out;
    FILE* pipe = popen(command.c_str(), "r");
    std::string said;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) said += line;
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status)) << c.args;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.args << ": " << said;
    const std::size_t at = said.find(c.said);
    EXPECT_NE(at, std::string::npos) << c.args << ": " << said;
    if (at != std::string::npos) {  // once, whatever the frames
      EXPECT_EQ(said.find(c.said, at + 1), std::string::npos) << said;
    }
    EXPECT_EQ(said.find("terminate"), std::string::npos) << said;
  }
  EXPECT_FALSE(exists("big.png"));
  EXPECT_FALSE(exists("huge.png"));
  EXPECT_FALSE(exists("h.exr"));
  for (const std::vector<std::string>& args :
       {refhost_run("piped", "1"),
        std::vector<std::string>{program_directory() + "/" + matte,
                                 "hostile.0001.png"}}) {
    const auto [status, said] = run_into_closed_pipe(args);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
        << args[0] << ": " << status;
    EXPECT_NE(said.find("error: cannot write to standard output: Broken pipe"),
              std::string::npos)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }
}

// A run that finds its folder locked by another says so at once, and an
// interrupt ends it there, with nothing renamed and nothing left behind.
TEST(ReferenceHostCommit, AWaitForAnotherRunSaysSoAndYieldsToInterrupts) {
  std::filesystem::create_directories("locked");
  std::ofstream("locked/kept.png", std::ios::binary) << "an earlier image";
  const int folder = open("locked", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(folder, LOCK_EX), 0);
  int said[2];
  ASSERT_EQ(pipe(said), 0);
  const pid_t child = fork();
  if (child == 0) {
    std::vector<std::string> args = refhost_run("locked/kept", "6");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    dup2(said[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(said[1]);
  std::string line;
  char c;
  while (read(said[0], &c, 1) == 1 && c != '\n') line += c;
  EXPECT_NE(line.find("refhost: waiting for the folder \""), std::string::npos)
      << line;
  EXPECT_NE(line.find("held by another run"), std::string::npos) << line;
  kill(child, SIGINT);
  const int status = raw_status(child);
  close(said[0]);
  close(folder);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(read_file("locked/kept.png"), "an earlier image");
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator("locked"))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"kept.png"});
}

}  // namespace

#endif
