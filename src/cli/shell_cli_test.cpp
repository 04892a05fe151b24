// pelorin-convert where users' files and shells meet it: signals sent to the real executable,
// stalled pipes, re-runs over earlier outputs, names at the limits of the file system.
#include "output_files.h"
#include "av_helpers.h"
#include "cli_error.h"
#include "testing/cli_test_util.h"
#include "video_writer.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace pelorin;
using namespace pelorin::cli;
using namespace pelorin::cli::test;
namespace fs = std::filesystem;

namespace {

// Starts the real executable with stdout and stderr going to `logPath` (stdout to `stdoutFd`
// instead when that is given) and `ignored` signals set to be ignored, as nohup does.
pid_t StartTool(const std::vector<std::string>& args, const std::string& logPath,
    std::initializer_list<int> ignored = {}, int stdoutFd = -1)
{
    std::vector<std::string> all = { PELORIN_CONVERT_EXE };
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit noCore = { 0, 0 }; // SIGQUIT would dump a core
        setrlimit(RLIMIT_CORE, &noCore);
        for (int signal : ignored)
            std::signal(signal, SIG_IGN);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(stdoutFd >= 0 ? stdoutFd : log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool WaitUntil(const std::function<bool()>& condition, double seconds = 30)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The process's wait status; -1 when it had to be killed because it did not end in time.
int WaitForExit(pid_t pid, double seconds = 30)
{
    int status = 0;
    if (WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds))
        return status;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

bool EndedBy(int status, int signal)
{
    return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

std::string Describe(int status)
{
    if (status == -1)
        return "did not end";
    if (WIFSIGNALED(status))
        return std::string("ended by ") + strsignal(WTERMSIG(status));
    return "exit status " + std::to_string(WEXITSTATUS(status));
}

// Every file of a folder with its content.
std::map<std::string, std::string> Contents(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    return files;
}

// Every name of a folder with its inode: a file replaced under its name shows as a change.
std::map<std::string, ino_t> Inodes(const fs::path& folder)
{
    std::map<std::string, ino_t> inodes;
    for (const auto& entry : fs::directory_iterator(folder)) {
        struct stat s = {};
        lstat(entry.path().c_str(), &s);
        inodes[entry.path().filename().string()] = s.st_ino;
    }
    return inodes;
}

bool HasHiddenFile(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with("."))
            return true;
    return false;
}

std::string PixelFormatOf(const std::string& path)
{
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return "unreadable";
    InputPtr input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const char* name = av_get_pix_fmt_name(AVPixelFormat(input->streams[0]->codecpar->format));
    return name ? name : "none";
}

} // namespace

TEST(ConvertToolSignals, AStoppedReRunLeavesTheEarlierSequenceAsItWas)
{
    ScratchFolder folder;
    const fs::path seq = folder.Root() / "seq";
    fs::create_directory(seq);
    const std::string pattern = (seq / "f_%04d.png").string();
    ASSERT_EQ(
        RunTool({ "--method", "floyd", "--frames", "0:9", SampleVideo(), pattern }).exitStatus, 0);
    const auto before = Contents(seq);
    const auto inodesBefore = Inodes(seq);
    ASSERT_EQ(before.size(), 10u);

    // Another method over the same names, stopped as soon as it has written anything.
    const pid_t pid
        = StartTool({ "--method", "bayer-4x4", SampleVideo(), pattern }, folder.Path("log"));
    ASSERT_TRUE(WaitUntil([&] { return Inodes(seq) != inodesBefore; }));
    kill(pid, SIGINT);
    const int status = WaitForExit(pid);
    EXPECT_TRUE(EndedBy(status, SIGINT)) << Describe(status);
    EXPECT_TRUE(Contents(seq) == before) << "the earlier sequence was changed";
}

TEST(ConvertToolSignals, EachStopSignalCleansUpAndEndsTheToolByThatSignal)
{
    ScratchFolder folder;
    const fs::path out = folder.Root() / "out";
    fs::create_directory(out);
    std::ofstream((out / "clip.mkv").string()) << "an older file";
    const auto before = Contents(out);
    for (int signal : { SIGINT, SIGTERM, SIGHUP, SIGQUIT }) {
        const pid_t pid
            = StartTool({ SampleVideo(), (out / "clip.mkv").string() }, folder.Path("log"));
        ASSERT_TRUE(WaitUntil([&] { return HasHiddenFile(out); })) << strsignal(signal);
        kill(pid, signal);
        const int status = WaitForExit(pid);
        EXPECT_TRUE(EndedBy(status, signal)) << strsignal(signal) << ": " << Describe(status);
        EXPECT_TRUE(Contents(out) == before) << strsignal(signal) << ": files left or changed";
    }

    // A signal the caller set to be ignored stays ignored: the run completes.
    const pid_t pid = StartTool({ "--frames", "0:99", SampleVideo(), (out / "quiet.mkv").string() },
        folder.Path("log"), { SIGINT });
    ASSERT_TRUE(WaitUntil([&] { return HasHiddenFile(out); }));
    kill(pid, SIGINT);
    const int status = WaitForExit(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Describe(status);
    EXPECT_TRUE(fs::exists(out / "quiet.mkv"));
}

TEST(ConvertToolSignals, AStalledPipeNeitherHangsTheToolNorOutlivesASignal)
{
    ScratchFolder folder;
    const std::string fifo = folder.Path("stall.avi");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The test holds the writing end open and writes the video's first bytes, then nothing.
    const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const std::string head = ReadFile(SampleVideo()).substr(0, 4096);
    ASSERT_EQ(write(writer, head.data(), head.size()), ssize_t(head.size()));

    const pid_t pid = StartTool({ fifo, folder.Path("out.mkv") }, folder.Path("log"));
    // A pipe cannot be sought, so the tool refuses it without reading; were it ever to wait for
    // the stalled writer instead, a stop signal must still end it.
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 3)) {
        kill(pid, SIGINT);
        status = WaitForExit(pid, 10);
    }
    close(writer);
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 1) || EndedBy(status, SIGINT))
        << Describe(status);
    EXPECT_FALSE(fs::exists(folder.Path("out.mkv")));
}

TEST(ConvertToolSignals, ABrokenPipeFailsTheRunAndKeepsNothing)
{
    ScratchFolder folder;
    const fs::path out = folder.Root() / "out";
    fs::create_directory(out);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]); // nobody reads the summary
    const pid_t pid = StartTool({ "--frames", "0:4", SampleVideo(), (out / "p.mkv").string() },
        folder.Path("log"), {}, fds[1]);
    close(fds[1]);
    const int status = WaitForExit(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << Describe(status);
    EXPECT_TRUE(fs::is_empty(out));
    // The broken pipe is named, not a stop signal (SIGPIPE stops the run, but is not why).
    const std::string log = ReadFile(folder.Path("log"));
    EXPECT_NE(log.find("cannot write the summary: Broken pipe"), std::string::npos) << log;
    EXPECT_EQ(log.find("stopped by a signal"), std::string::npos) << log;
}

TEST(ConvertToolSignals, ALaterRunRemovesWhatAKilledRunLeft)
{
    ScratchFolder folder;
    const fs::path out = folder.Root() / "out";
    fs::create_directory(out);
    const std::string clip = (out / "clip.mkv").string();
    const pid_t killed = StartTool({ SampleVideo(), clip }, folder.Path("log"));
    ASSERT_TRUE(WaitUntil([&] { return HasHiddenFile(out); }));
    kill(killed, SIGKILL);
    WaitForExit(killed);
    ASSERT_TRUE(HasHiddenFile(out));
    // A temporary file of a process that still runs (this one) is not touched.
    const std::string running = ".clip.mkv.pelorin-" + std::to_string(getpid()) + "-0";
    std::ofstream((out / running).string()) << "in use";

    const int status
        = WaitForExit(StartTool({ "--frames", "0:1", SampleVideo(), clip }, folder.Path("log")));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Describe(status);
    EXPECT_EQ(folder.Files().size(), 2u); // out, log
    EXPECT_EQ(Contents(out).size(), 2u);
    EXPECT_TRUE(fs::exists(out / running));
}

TEST(ConvertToolOutputs, NamesAtTheLimitsAndLiteralPercents)
{
    ScratchFolder folder;
    const std::string picture = folder.Path("in.png");
    WritePng(picture, RandomPicture(64, 48, PaletteColours(16), 5));
    // 255 bytes, the longest name Linux file systems take.
    const std::string longName = std::string(251, 'n') + ".png";
    const std::string longPattern = std::string(246, 'p') + "_%04d.png";
    EXPECT_EQ(RunTool({ picture, folder.Path(longName) }).exitStatus, 0);
    EXPECT_EQ(RunTool({ picture, folder.Path(longPattern) }).exitStatus, 0);
    EXPECT_TRUE(fs::exists(folder.Path(longName)));
    EXPECT_TRUE(fs::exists(folder.Path(std::string(246, 'p') + "_0000.png")));

    EXPECT_EQ(RunTool({ picture, folder.Path("50%%.png") }).exitStatus, 0);
    EXPECT_EQ(RunTool({ picture, folder.Path("p%%_%d.png") }).exitStatus, 0);
    EXPECT_TRUE(fs::exists(folder.Path("50%.png")));
    EXPECT_TRUE(fs::exists(folder.Path("p%_0.png")));
    EXPECT_EQ(folder.Files().size(), 5u);
}

TEST(ConvertToolOutputs, AnOutputThatIsAFolderIsRefusedBeforeTheInputIsRead)
{
    ScratchFolder folder;
    // The input is no video: refusing the output first shows that no work was begun.
    std::ofstream(folder.Path("notes.avi")) << "not a video at all\n";
    fs::create_directory(folder.Path("taken.png"));
    const ToolResult r = RunTool({ folder.Path("notes.avi"), folder.Path("taken.png") });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("cannot write '" + folder.Path("taken.png") + "': it is a folder"),
        std::string::npos)
        << r.err;
}

TEST(ConvertToolOutputs, MessagesOfTheVideoWriterNameTheOutput)
{
    ScratchFolder folder;
    AtomicOutput output(folder.Path("shown.gif"));
    VideoWriter writer(
        output.TempPath(), ".gif", 4, 4, {}, TvcModeOf(16), { output.FinalPath() });
    platform::Surface offPalette(4, 4);
    std::fill(offPalette.pixels.begin(), offPalette.pixels.end(), 0x123456u);
    try {
        writer.Write(offPalette);
        ADD_FAILURE() << "a colour outside the palette was written";
    } catch (const CliError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot write '" + output.FinalPath() + "'", 0), 0u)
            << e.what();
    }
}

TEST(ConvertToolOutputs, FfmpegsOwnLogStaysQuietWithKeepSize)
{
    ScratchFolder folder;
    std::ofstream(folder.Path("notes.avi")) << "not a video at all\n";
    const int status = WaitForExit(StartTool(
        { "--keep-size", folder.Path("notes.avi"), folder.Path("o.png") }, folder.Path("log")));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << Describe(status);
    const std::string log = ReadFile(folder.Path("log"));
    EXPECT_EQ(log.rfind("pelorin-convert: ", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(ConvertToolOutputs, Mp4Is420ForTheDisplayPictureAndLossless444ForTheWorkingOne)
{
    ScratchFolder folder;
    const std::vector<std::string> common = { "--mode", "4", "--method", "floyd", "--frames", "7" };
    const auto run = [&](std::vector<std::string> extra, const std::string& output) {
        std::vector<std::string> args = common;
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), { SampleVideo(), folder.Path(output) });
        const ToolResult r = RunTool(args);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return DecodeAllFrames(folder.Path(output)).at(0);
    };
    const platform::Surface display = run({}, "d.png");
    const platform::Surface displayMp4 = run({}, "d.mp4");
    EXPECT_EQ(PixelFormatOf(folder.Path("d.mp4")), "yuv420p");
    // Each 2 x 2 block is one colour; what remains is the encoder's rounding.
    int64_t error = 0;
    for (int y = 0; y < display.height; ++y)
        for (int x = 0; x < display.width; ++x)
            for (int shift : { 0, 8, 16 })
                error += std::abs(int(display.At(x, y) >> shift & 0xFF)
                    - int(displayMp4.At(x, y) >> shift & 0xFF));
    EXPECT_LT(double(error) / (3.0 * display.width * display.height), 2.0);

    EXPECT_EQ(run({ "--working" }, "w.mp4"), run({ "--working" }, "w.png"));
    EXPECT_NE(PixelFormatOf(folder.Path("w.mp4")), "yuv420p");
}
