// MciCommand against the exact strings it sends, and the interpreter's answers and errors.
#include "mci.h"
#include "testing/mci_recorder.h"
#include "testing/test_videos.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace pelorin {
namespace {

    namespace fs = std::filesystem;
    namespace test = video::test;

    std::string Replaced(std::string text, const std::string& what, const std::string& with)
    {
        for (size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + with.size()))
            text.replace(at, what.size(), with);
        return text;
    }

    std::string Status(const std::string& item, const std::string& device = "video1")
    {
        std::string answer;
        const uint32_t code = mciSendStringA("status " + device + " " + item, &answer, 255, 0);
        return code == 0 ? answer : "error " + std::to_string(code);
    }

    class Mci : public ::testing::Test {
    protected:
        void TearDown() override { mciSendStringA("close all", nullptr, 0, 0); }
        platform::PictureBox m_box { 320, 240 };
    };

    // ---- The strings of each operation -----------------------------------------------------

    struct StringCase {
        int command;
        bool withFile; // the sample video, else an empty name
        bool withParent;
        MciValue value;
        // {s}: the short path of the file; {hwnd}: the parent's handle.
        std::vector<std::string> sent;
    };

    const StringCase kStringCases[] = {
        { 1, true, true, {},
            { "close all", "open {s} Type avivideo Alias video1 parent {hwnd} Style 1073741824",
                "put video1 window at 0 0 320 240" } },
        { 16, true, true, {},
            { "close all", "open {s} Alias video1 parent {hwnd} Style 1073741824",
                "put video1 window at 0 0 320 240" } },
        { 17, true, false, {}, { "close all", "open {s} type waveaudio alias video1 parent" } },
        { 2, false, false, {}, { "play video1" } },
        { 3, false, false, {}, { "pause video1" } },
        { 4, false, false, {}, { "resume video1" } },
        { 5, false, false, {}, { "stop video1" } },
        { 6, false, false, {}, { "seek video1 to start" } },
        { 7, false, false, int64_t(100), {} },
        { 8, false, false, int64_t(0), { "set video1 audio all off" } },
        { 8, false, false, std::string("0"), { "set video1 audio all off" } },
        { 8, false, false, std::string(""), { "set video1 audio all off" } },
        { 8, false, false, {}, { "set video1 audio all off" } },
        { 8, false, false, int64_t(1), { "set video1 audio all on" } },
        { 8, false, false, std::string("2.5"), { "set video1 audio all on" } },
        { 8, false, false, 0.25, { "set video1 audio all on" } },
        { 8, false, false, std::string("0abc"), { "set video1 audio all off" } },
        { 9, false, false, {}, { "set video1 time format frames" } },
        { 10, false, false, {}, { "set video1 time format ms" } },
        { 11, false, false, {}, { "status video1 length" } },
        { 12, false, false, {}, { "status video1 mode" } },
        { 13, false, false, {}, { "status video1 position" } },
        { 14, false, false, int64_t(25), { "seek video1 to 25 wait" } },
        { 14, false, false, std::string("25"), { "seek video1 to 25 wait" } },
        { 14, false, false, 25.0, { "seek video1 to 25 wait" } },
        // Text is read up to the first character that cannot continue a number.
        { 14, false, false, std::string("25abc"), { "seek video1 to 25 wait" } },
        { 14, false, false, std::string("7.5e1x"), { "seek video1 to 75 wait" } },
        { 14, false, false, std::string("3e"), { "seek video1 to 3 wait" } },
        { 14, false, false, std::string(".5"), { "seek video1 to 0.5 wait" } },
        { 14, false, false, std::string("+12-"), { "seek video1 to 12 wait" } },
        { 14, false, false, std::string("abc"), { "seek video1 to 0 wait" } },
        { 14, false, false, std::string(""), { "seek video1 to 0 wait" } },
        { 14, false, false, std::string(" 25"), { "seek video1 to 0 wait" } },
        { 14, false, false, {}, { "seek video1 to 0 wait" } },
        { 14, false, false, 2.5, { "seek video1 to 2.5 wait" } },
        { 14, false, false, int64_t(-3), { "seek video1 to -3 wait" } },
        { 14, false, false, -0.0, { "seek video1 to 0 wait" } },
        { 15, false, false, {}, { "close video1" } },
        { 0, true, true, int64_t(1), {} },
        { 18, true, true, int64_t(1), {} },
        { -1, false, false, {}, {} },
    };

    TEST_F(Mci, EachOperationSendsExactlyItsStrings)
    {
        const std::string file = test::SampleVideo();
        const std::string shortPath = ShortPathName(file);
        ASSERT_FALSE(shortPath.empty());
        MciRecorder recorder;
        for (const StringCase& c : kStringCases) {
            std::vector<std::string> expected;
            for (const std::string& s : c.sent)
                expected.push_back(Replaced(
                    Replaced(s, "{s}", shortPath), "{hwnd}", std::to_string(m_box.hWnd())));
            recorder.Clear();
            const std::string result = MciCommand(c.command, c.withFile ? file : std::string(),
                c.withParent ? &m_box : nullptr, c.value);
            EXPECT_EQ(recorder.Sent(), expected) << "operation " << c.command;
            if (c.command < 11 || c.command > 13) {
                EXPECT_EQ(result, "") << "operation " << c.command;
            }
        }
    }

    TEST_F(Mci, OpenSetsThePixelScaleModeAndReadsTheBoxSize)
    {
        platform::PictureBox box(97, 61);
        box.SetScaleMode(1);
        MciRecorder recorder;
        MciCommand(1, test::SampleVideo(), &box);
        EXPECT_EQ(box.ScaleMode(), platform::kScaleModePixel);
        ASSERT_EQ(recorder.Sent().size(), 3u);
        EXPECT_EQ(recorder.Sent()[2], "put video1 window at 0 0 97 61");
    }

    TEST_F(Mci, OpenWithoutAParentSendsNothing)
    {
        MciRecorder recorder;
        EXPECT_THROW(MciCommand(1, test::SampleVideo()), std::invalid_argument);
        EXPECT_THROW(MciCommand(16, test::SampleVideo()), std::invalid_argument);
        EXPECT_TRUE(recorder.Sent().empty());
    }

    struct VolumeCase {
        MciValue value;
        uint32_t volume; // right level << 16 | left level
    };
    const VolumeCase kVolumeCases[] = {
        { int64_t(0), 0x00000000u },
        { int64_t(100), 0x00C800C8u },
        { int64_t(32767), 0xFFFEFFFEu },
        { std::string("2.5"), 0x00050005u },
        { 0.25, 0x00000000u }, // 2 × 0.25 = 0.5 rounds to even: 0
        { 0.75, 0x00020002u }, // 1.5 rounds to even: 2
        { int64_t(40000), 0xFFFFFFFFu }, // past the top stays at the top
        { int64_t(-5), 0x00000000u },
    };

    TEST_F(Mci, VolumeIsTwiceTheValueOnBothChannels)
    {
        MciRecorder recorder;
        for (const VolumeCase& c : kVolumeCases) {
            MciCommand(7, "", nullptr, c.value);
            EXPECT_EQ(WaveOutVolume(), c.volume) << std::hex << c.volume;
        }
        EXPECT_TRUE(recorder.Sent().empty());
    }

    TEST_F(Mci, VolumeRoundsHalvesToEvenInEveryRoundingMode)
    {
        for (int mode : { FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO }) {
            std::fesetround(mode);
            MciCommand(7, "", nullptr, 0.25); // 0.5
            const uint32_t half = WaveOutVolume();
            MciCommand(7, "", nullptr, 0.75); // 1.5
            const uint32_t oneAndAHalf = WaveOutVolume();
            std::fesetround(FE_TONEAREST);
            EXPECT_EQ(half, 0u) << "rounding mode " << mode;
            EXPECT_EQ(oneAndAHalf, 0x00020002u) << "rounding mode " << mode;
        }
    }

    // ---- The short path stand-in ----------------------------------------------------------

    class ShortPath : public ::testing::Test {
    protected:
        void SetUp() override
        {
            m_dir = fs::temp_directory_path() / ("pelorin short path " + std::to_string(getpid()));
            fs::create_directories(m_dir / "sub folder");
            std::ofstream(m_dir / "clip one.avi") << "x";
        }
        void TearDown() override { fs::remove_all(m_dir); }
        fs::path m_dir;
    };

    TEST_F(ShortPath, IsTheCanonicalPathOfAnExistingFileElseEmpty)
    {
        const std::string canonical = fs::canonical(m_dir / "clip one.avi").string();
        const struct {
            std::string name;
            std::string expected;
        } cases[] = {
            { "", "" },
            { (m_dir / "missing.avi").string(), "" },
            { (m_dir / "clip one.avi").string(), canonical },
            { (m_dir / "sub folder" / ".." / "clip one.avi").string(), canonical },
            { (m_dir / "sub folder" / ".." / "missing.avi").string(), "" },
        };
        for (const auto& c : cases)
            EXPECT_EQ(ShortPathName(c.name), c.expected) << "'" << c.name << "'";
    }

    TEST_F(ShortPath, KeepsBlanksAndOpensThroughThem)
    {
        // A hard link keeps the blanks in the canonical name (a symbolic one would resolve).
        const fs::path copy = m_dir / "sub folder" / "tom with blanks.avi";
        std::error_code linkError;
        fs::create_hard_link(test::SampleVideo(), copy, linkError);
        if (linkError)
            fs::copy_file(test::SampleVideo(), copy);
        platform::PictureBox box(512, 240);
        MciRecorder recorder;
        MciCommand(1, copy.string(), &box);
        ASSERT_EQ(recorder.Sent().size(), 3u);
        EXPECT_NE(recorder.Sent()[1].find("sub folder/tom with blanks.avi Type"), std::string::npos)
            << recorder.Sent()[1];
        MciCommand(9);
        EXPECT_EQ(MciCommand(12), "stopped");
        EXPECT_EQ(MciCommand(11), "500");
        mciSendStringA("close all", nullptr, 0, 0);
    }

    // ---- Status results through MciCommand ------------------------------------------------

    TEST_F(Mci, StatusOperationsReturnTheAnswerText)
    {
        MciCommand(1, test::SampleVideo(), &m_box);
        MciCommand(9);
        EXPECT_EQ(MciCommand(11), "500");
        EXPECT_EQ(MciCommand(12), "stopped");
        EXPECT_EQ(MciCommand(13), "0");
        // An empty file name does not stop a seek.
        MciCommand(14, "", nullptr, int64_t(25));
        EXPECT_EQ(MciCommand(13), "25");
        MciCommand(14, "", nullptr, std::string("7.5e1"));
        EXPECT_EQ(MciCommand(13), "75");
        MciCommand(6);
        EXPECT_EQ(MciCommand(13), "0");
        // Milliseconds: 25 frames per second.
        MciCommand(14, "", nullptr, int64_t(40));
        MciCommand(10);
        EXPECT_EQ(MciCommand(13), "1600");
        EXPECT_EQ(MciCommand(11), "20000");
        MciCommand(15);
        EXPECT_EQ(MciCommand(12), "") << "a refused status leaves no stale answer";
    }

    // The window's additions read the open video through its typed player, not the strings: it
    // must be the device the strings opened and moved, and gone once they close it.
    TEST_F(Mci, TheTypedPlayerIsTheDeviceTheStringsOpened)
    {
        EXPECT_EQ(MciOpenVideo("video1"), nullptr);
        MciCommand(MciOperation::OpenAviVideo, test::SampleVideo(), &m_box);
        MciCommand(MciOperation::TimeFormatFrames);
        MciCommand(MciOperation::SeekTo, "", nullptr, int64_t(25));
        const video::VideoDevice* player = MciOpenVideo("VIDEO1");
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(std::to_string(player->Position()), Status("position"));
        EXPECT_EQ(std::to_string(player->Length()), Status("length"));
        EXPECT_EQ(player->RateNumerator() * 1000 / player->RateDenominator(), 25000);
        MciCommand(MciOperation::Close);
        EXPECT_EQ(MciOpenVideo("video1"), nullptr);
    }

    TEST_F(Mci, AudioOperationSwitchesTheDevicesAudio)
    {
        MciCommand(1, test::SampleVideo(), &m_box);
        EXPECT_EQ(Status("audio"), "on");
        MciCommand(8, "", nullptr, std::string(""));
        EXPECT_EQ(Status("audio"), "off");
        MciCommand(8, "", nullptr, std::string("2.5"));
        EXPECT_EQ(Status("audio"), "on");
    }

    TEST_F(Mci, OperationsOnAClosedDeviceDoNothing)
    {
        MciRecorder recorder;
        for (int command = 2; command <= 15; ++command)
            EXPECT_EQ(MciCommand(command, "", nullptr, int64_t(3)), "") << command;
        EXPECT_EQ(recorder.Sent().size(), 13u); // all but 7
    }

    TEST_F(Mci, FailedOpenLeavesTheDeviceClosed)
    {
        MciCommand(1, test::SampleVideo(), &m_box);
        ASSERT_EQ(Status("mode"), "stopped");
        // The close all before the open closes the old video either way.
        MciCommand(1, "/no/such/folder/tom.avi", &m_box);
        EXPECT_EQ(Status("mode"), "error " + std::to_string(MCIERR_INVALID_DEVICE_NAME));
    }

    // ---- The interpreter -------------------------------------------------------------------

    class Interpreter : public Mci {
    protected:
        void SetUp() override
        {
            m_sample = test::SampleVideo();
            ASSERT_EQ(Send("open " + m_sample + " Type avivideo Alias video1 parent "
                          + std::to_string(m_box.hWnd()) + " Style 1073741824"),
                0u)
                << MciLastErrorDetail();
            ASSERT_EQ(Send("set video1 time format frames"), 0u);
            ASSERT_EQ(Send("seek video1 to 60 wait"), 0u);
        }
        static uint32_t Send(const std::string& command)
        {
            return mciSendStringA(command, nullptr, 0, 0);
        }
        // Everything a failed command must leave as it was.
        std::vector<std::string> State()
        {
            return { Status("position"), Status("mode"), Status("time format"), Status("audio"),
                Status("length"), Status("mode", "v2"),
                std::to_string(test::Hash(m_box.Snapshot())) };
        }
        std::string m_sample;
    };

    struct ErrorCase {
        std::string command; // {f}: the sample video; {hwnd}: the box's handle
        uint32_t error;
    };
    const ErrorCase kErrorCases[] = {
        { "", MCIERR_MISSING_COMMAND_STRING },
        { "   ", MCIERR_MISSING_COMMAND_STRING },
        { "jump video1", MCIERR_UNRECOGNIZED_COMMAND },
        { "play", MCIERR_MISSING_DEVICE_NAME },
        { "play video2", MCIERR_INVALID_DEVICE_NAME },
        { "seek video9 to 5 wait", MCIERR_INVALID_DEVICE_NAME },
        { "play all", MCIERR_CANNOT_USE_ALL },
        { "stop video1 now", MCIERR_UNRECOGNIZED_KEYWORD },
        { "close video1 now", MCIERR_UNRECOGNIZED_KEYWORD },
        { "seek video1 to 2.5 wait", MCIERR_BAD_INTEGER },
        { "seek video1 to abc", MCIERR_BAD_INTEGER },
        { "seek video1 to 99999999999999999999", MCIERR_BAD_INTEGER },
        { "seek video1 to -1 wait", MCIERR_OUTOFRANGE },
        { "seek video1 to 500 wait", MCIERR_OUTOFRANGE },
        { "seek video1 to 9223372036854775807", MCIERR_OUTOFRANGE },
        { "seek video1 5", MCIERR_UNRECOGNIZED_KEYWORD },
        { "seek video1 to", MCIERR_MISSING_PARAMETER },
        { "seek video1 to 5 6", MCIERR_UNRECOGNIZED_KEYWORD },
        { "set video1 time format seconds", MCIERR_UNRECOGNIZED_KEYWORD },
        { "set video1 time format", MCIERR_MISSING_PARAMETER },
        { "set video1 audio all loud", MCIERR_UNRECOGNIZED_KEYWORD },
        { "set video1 speed 2000", MCIERR_UNRECOGNIZED_KEYWORD },
        { "status video1", MCIERR_MISSING_PARAMETER },
        { "status video1 colour", MCIERR_UNRECOGNIZED_KEYWORD },
        { "put video1 window at 0 0 0 240", MCIERR_OUTOFRANGE },
        { "put video1 window at 0 0 320 100000", MCIERR_OUTOFRANGE },
        { "put video1 window at 0 0 x 240", MCIERR_BAD_INTEGER },
        { "put video1 window at 0 0 320", MCIERR_MISSING_PARAMETER },
        { "put video1 destination at 0 0 320 240", MCIERR_UNRECOGNIZED_KEYWORD },
        { "open /no/such/file.avi alias v2", MCIERR_FILE_NOT_FOUND },
        { "open {f} alias video1", MCIERR_DUPLICATE_ALIAS },
        { "open {f} Alias VIDEO1", MCIERR_DUPLICATE_ALIAS },
        { "open {f} type waveaudio alias v2", MCIERR_UNSUPPORTED_FUNCTION },
        { "open {f} type waveaudio alias v2 parent", MCIERR_MISSING_PARAMETER },
        { "open {f} type cdaudio alias v2", MCIERR_INVALID_DEVICE_NAME },
        { "open {f} alias v2 parent 999999999", MCIERR_CREATEWINDOW },
        { "open {f} alias v2 parent window", MCIERR_BAD_INTEGER },
        { "open {f} alias v2 parent {hwnd} style big", MCIERR_BAD_INTEGER },
        { "open {f} alias all", MCIERR_CANNOT_USE_ALL },
        { "open  Type avivideo Alias v2 parent {hwnd} Style 1073741824", MCIERR_FILENAME_REQUIRED },
        { "open {f}.txt alias v2", MCIERR_FILE_NOT_FOUND },
    };

    TEST_F(Interpreter, RefusedCommandsReturnTheirErrorAndChangeNothing)
    {
        const std::vector<std::string> before = State();
        for (const ErrorCase& c : kErrorCases) {
            const std::string command = Replaced(
                Replaced(c.command, "{f}", m_sample), "{hwnd}", std::to_string(m_box.hWnd()));
            std::string answer = "untouched";
            EXPECT_EQ(mciSendStringA(command, &answer, 255, 0), c.error)
                << "'" << command << "': " << MciLastErrorDetail();
            EXPECT_EQ(answer, "") << command;
            EXPECT_FALSE(MciLastErrorDetail().empty()) << command;
            EXPECT_EQ(State(), before) << "'" << command << "' changed something";
        }
    }

    struct AnswerCase {
        std::string command; // sent first (empty: nothing)
        std::string item; // then "status video1 <item>"
        std::string answer;
    };
    const AnswerCase kAnswerCases[] = {
        { "", "position", "60" },
        { "", "length", "500" },
        { "", "mode", "stopped" },
        { "", "time format", "frames" },
        { "SEEK Video1 TO 7 WAIT", "POSITION", "7" },
        { "seek video1 to end", "position", "499" },
        { "seek video1 to start", "position", "0" },
        { "seek video1 to 499 wait", "position", "499" },
        { "set video1 time format ms", "time format", "milliseconds" },
        { "set video1 time format ms", "length", "20000" },
        { "seek video1 to 4020", "position", "4000" }, // 4020 ms falls in frame 100
        { "seek video1 to 19999 wait", "position", "19960" },
        { "set video1 time format milliseconds", "position", "19960" },
        { "set video1 time format frames", "position", "499" },
        { "set video1 audio all off", "audio", "off" },
        { "set video1 audio all on wait", "audio", "on" },
        { "pause video1", "mode", "stopped" }, // nothing to pause
        { "resume video1", "mode", "stopped" },
        { "put video1 window at 10 10 100 50", "position", "499" },
        { "", "ready", "true" },
        { "", "frame rate", "25000" },
        { "set video1 time format ms", "frame rate", "25000" },
    };

    TEST_F(Interpreter, AnswersFollowTheCommands)
    {
        for (const AnswerCase& c : kAnswerCases) {
            if (!c.command.empty()) {
                ASSERT_EQ(Send(c.command), 0u) << c.command << ": " << MciLastErrorDetail();
            }
            EXPECT_EQ(Status(c.item), c.answer) << "after '" << c.command << "'";
        }
    }

    TEST_F(Interpreter, MillisecondPositionsEndWhereTheVideoEnds)
    {
        ASSERT_EQ(Send("set video1 time format ms"), 0u);
        for (const char* past : { "20000", "20001", "9223372036854775807" }) {
            EXPECT_EQ(Send(std::string("seek video1 to ") + past), uint32_t(MCIERR_OUTOFRANGE))
                << past;
            EXPECT_EQ(Status("position"), "2400") << past; // frame 60 stays
        }
        ASSERT_EQ(Send("seek video1 to 19999"), 0u);
        EXPECT_EQ(Status("position"), "19960");
    }

    TEST_F(Interpreter, AnAnswerThatDoesNotFitIsRefused)
    {
        std::string answer;
        // "stopped" needs 8 characters with its terminator.
        EXPECT_EQ(mciSendStringA("status video1 mode", &answer, 7, 0), MCIERR_PARAM_OVERFLOW);
        EXPECT_EQ(answer, "");
        EXPECT_EQ(mciSendStringA("status video1 mode", &answer, 8, 0), 0u);
        EXPECT_EQ(answer, "stopped");
    }

    TEST_F(Interpreter, CloseEndsTheDeviceAndCloseAllEndsEvery)
    {
        ASSERT_EQ(Send("open " + m_sample + " alias second"), 0u) << MciLastErrorDetail();
        EXPECT_EQ(Send("close video1"), 0u);
        EXPECT_EQ(Send("close video1"), uint32_t(MCIERR_INVALID_DEVICE_NAME));
        EXPECT_EQ(Status("mode"), "error " + std::to_string(MCIERR_INVALID_DEVICE_NAME));
        EXPECT_EQ(Status("mode", "second"), "stopped");
        EXPECT_EQ(Send("close all"), 0u);
        EXPECT_EQ(Status("mode", "second"), "error " + std::to_string(MCIERR_INVALID_DEVICE_NAME));
        EXPECT_EQ(Send("close all"), 0u);
    }

    TEST_F(Interpreter, PlayPauseResumeStopThroughStrings)
    {
        using namespace std::chrono_literals;
        auto waitFor = [](auto done) {
            for (int i = 0; i < 500 && !done(); ++i)
                std::this_thread::sleep_for(10ms);
            return done();
        };
        ASSERT_EQ(Send("play video1"), 0u);
        EXPECT_EQ(Status("mode"), "playing");
        ASSERT_TRUE(waitFor([] { return std::stoi(Status("position")) >= 63; }));
        ASSERT_EQ(Send("pause video1"), 0u);
        EXPECT_EQ(Status("mode"), "paused");
        const std::string held = Status("position");
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(Status("position"), held);
        ASSERT_EQ(Send("resume video1"), 0u);
        EXPECT_EQ(Status("mode"), "playing");
        ASSERT_TRUE(waitFor([&] { return Status("position") != held; }));
        ASSERT_EQ(Send("stop video1"), 0u);
        EXPECT_EQ(Status("mode"), "stopped");
        const std::string stopped = Status("position");
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(Status("position"), stopped);
    }

    TEST_F(Interpreter, TracesEveryStringBeforeItRuns)
    {
        std::vector<std::string> seen;
        bool inside = false;
        SetMciTrace([&](const std::string& command) {
            if (inside)
                return; // the status query below is traced as well
            inside = true;
            // The command has not run yet: the position is still the old one.
            seen.push_back(command + " @" + Status("position"));
            inside = false;
        });
        Send("seek video1 to 5 wait");
        Send("bogus");
        SetMciTrace({});
        ASSERT_GE(seen.size(), 2u);
        EXPECT_EQ(seen.front(), "seek video1 to 5 wait @60");
        EXPECT_EQ(seen.back(), "bogus @5");
    }

} // namespace
} // namespace pelorin
