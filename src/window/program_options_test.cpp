// The pelorin program's own command line: the parser, and the program refusing a wrong line
// before it opens any window.
#include "program_options.h"

#include <QCoreApplication>
#include <QProcess>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pelorin::window;
using ::testing::HasSubstr;
using Action = ProgramCommandLine::Action;

namespace {

ProgramCommandLine Parse(std::vector<std::string> args) { return ParseProgramCommandLine(args); }

TEST(ProgramCommandLine, SwitchesAndAFile)
{
    const ProgramCommandLine plain = Parse({});
    EXPECT_EQ(plain.action, Action::Run);
    EXPECT_FALSE(plain.options.realTime || plain.options.loop || plain.options.showTime
        || plain.options.steady);
    EXPECT_TRUE(plain.options.file.empty());

    const ProgramCommandLine all
        = Parse({ "--show-time", "clip.avi", "--loop", "--steady", "--real-time" });
    EXPECT_EQ(all.action, Action::Run);
    EXPECT_TRUE(
        all.options.realTime && all.options.loop && all.options.showTime && all.options.steady);
    EXPECT_EQ(all.options.file, "clip.avi");

    // After "--" a name that begins with a dash is a file.
    EXPECT_EQ(Parse({ "--", "-odd name.avi" }).options.file, "-odd name.avi");
    EXPECT_EQ(Parse({ "--loop", "--help", "--bogus" }).action, Action::Help);
    EXPECT_EQ(Parse({ "--version" }).action, Action::Version);

    EXPECT_EQ(plain.options.aspect, pelorin::video::Aspect::Stretch);
    EXPECT_EQ(Parse({ "--aspect", "FIT", "a.mkv" }).options.aspect, pelorin::video::Aspect::Fit);
    const ProgramCommandLine fill = Parse({ "--aspect", "fill", "a.mkv" });
    EXPECT_EQ(fill.options.aspect, pelorin::video::Aspect::Fill);
    EXPECT_EQ(fill.options.file, "a.mkv");
    EXPECT_EQ(
        Parse({ "--aspect", "wide" }).error, "--aspect takes stretch, fit or fill, got 'wide'");
    EXPECT_EQ(Parse({ "--aspect" }).error, "--aspect needs a value");
}

TEST(ProgramCommandLine, FitIsOffUnlessGiven)
{
    EXPECT_FALSE(Parse({ "clip.avi" }).options.fit);
    const ProgramCommandLine fit = Parse({ "--fit", "clip avi " });
    EXPECT_EQ(fit.action, Action::Run);
    EXPECT_TRUE(fit.options.fit);
    EXPECT_EQ(fit.options.file, "clip avi ") << "the name as given, trailing blank and all";
    EXPECT_THAT(ProgramHelpText(), HasSubstr("--fit"));
}

TEST(ProgramCommandLine, AWrongLineIsRefusedNamingTheProblem)
{
    struct Case {
        std::vector<std::string> args;
        std::string named;
    };
    const Case cases[] = {
        { { "--bogus" }, "unknown option '--bogus'" },
        { { "-l" }, "unknown option '-l'" },
        { { "--real-time=1" }, "--real-time takes no value" },
        { { "a.avi", "b.avi" }, "more than one file" },
        { { "" }, "empty file name" },
        { { "--mode", "4", "--palette", "best-per-line", "a.png" },
            "best-per-line is pelorin-convert's" },
    };
    for (const Case& c : cases) {
        const ProgramCommandLine parsed = Parse(c.args);
        EXPECT_EQ(parsed.action, Action::Error) << c.named;
        EXPECT_THAT(parsed.error, HasSubstr(c.named));
    }
}

// The program itself: a wrong option is reported on stderr with exit status 2, before the
// toolkit starts (no display is needed for it).
TEST(ProgramCommandLine, ExitAfterTakesACountOfFrames)
{
    EXPECT_FALSE(Parse({ "clip.avi" }).options.exitAfterFrames);
    const ProgramCommandLine some = Parse({ "--exit-after", "25", "clip.avi" });
    EXPECT_EQ(some.action, Action::Run);
    EXPECT_EQ(some.options.exitAfterFrames, 25);
    EXPECT_EQ(Parse({ "--exit-after", "1000000" }).options.exitAfterFrames, 1000000);
    for (const char* wrong : { "0", "-3", "1000001", "12x", "", " 5", "99999999999" })
        EXPECT_EQ(Parse({ "--exit-after", wrong }).error,
            std::string("--exit-after takes a count of frames from 1 to 1000000, got '") + wrong
                + "'");
    EXPECT_EQ(Parse({ "--exit-after" }).error, "--exit-after needs a value");
    EXPECT_THAT(Parse({ "--exit-after", "3", "--frames", "5", "a.avi" }).error,
        HasSubstr("leave one of them out"));
    EXPECT_EQ(
        Parse({ "--exit-after", "2", "--exit-after", "3" }).error, "--exit-after is given twice");
}

TEST(ProgramCommandLine, TheVersionIsTheProjects)
{
    // "pelorin 1.0" or, from a git checkout, "pelorin 1.0 (git 0123abcde)".
    const std::string text = ProgramVersionText();
    EXPECT_EQ(text.rfind("pelorin ", 0), 0u) << text;
    EXPECT_NE(text.find_first_of("0123456789"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(ProgramCommandLine, TheProgramStepsAndExitsWithExitAfter)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QCoreApplication::applicationDirPath() + "/pelorin", { "--exit-after", "5" });
    ASSERT_TRUE(program.waitForFinished(60'000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_EQ(
        program.readAllStandardOutput().toStdString(), "pelorin: stepped 5 frames, at frame 5\n");

    program.start(QCoreApplication::applicationDirPath() + "/pelorin",
        { "--exit-after", "5", QCoreApplication::applicationDirPath() + "/no such.avi" });
    ASSERT_TRUE(program.waitForFinished(60'000));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_THAT(program.readAllStandardError().toStdString(), HasSubstr("no such.avi"));
}

TEST(ProgramCommandLine, TheProgramExitsWithStatus2OnAWrongOption)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("DISPLAY");
    program.setProcessEnvironment(environment);
    program.start(QCoreApplication::applicationDirPath() + "/pelorin", { "--loop", "--bogus" });
    ASSERT_TRUE(program.waitForFinished(30'000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_THAT(program.readAllStandardError().toStdString(), HasSubstr("'--bogus'"));
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());

    program.start(QCoreApplication::applicationDirPath() + "/pelorin", { "--help" });
    ASSERT_TRUE(program.waitForFinished(30'000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_THAT(program.readAllStandardOutput().toStdString(), HasSubstr("--real-time"));
}

} // namespace
