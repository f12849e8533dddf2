#include "common/environment.h"
#include "common/table_rows.h"
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

using namespace platform;
using testing_support::RunToEnd;
using testing_support::TestEnvironment;

namespace {

using testing_support::operator<<;

struct SplitCase
{
    const char *name;
    const char *line;
    std::vector<const char *> args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase>
{};

TEST_P(SplitCommandLineTest, FollowsTheWindowsRules)
{
    const SplitCase &c = GetParam();
    QStringList expected;
    for (const char *a : c.args)
        expected << QString::fromUtf8(a);
    EXPECT_EQ(SplitCommandLine(QString::fromUtf8(c.line)), expected) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    SplitCommandLineTest,
    ::testing::Values(SplitCase{"BlanksOnly", "   ", {}},
                      SplitCase{"BlanksAndTabs", "  prog \t a   b  ", {"prog", "a", "b"}},
                      // The program name keeps its backslashes; quotes only group.
                      SplitCase{"QuotedProgramKeepsBackslashes",
                                "\"C:\\Program Files\\x.exe\" -i in",
                                {"C:\\Program Files\\x.exe", "-i", "in"}},
                      // Unquoted paths with a blank split in two.
                      SplitCase{"UnquotedBlankSplits",
                                "/tmp/My Folder/regsvr32 /s x.dll",
                                {"/tmp/My", "Folder/regsvr32", "/s", "x.dll"}},
                      SplitCase{"QuotesInsideAWord", "p a\"b c\"d", {"p", "ab cd"}},
                      SplitCase{"BackslashesBeforeNoQuote", "p a\\\\b", {"p", "a\\\\b"}},
                      SplitCase{"DoubledQuoteInQuotes", "p \"a\"\"b\"", {"p", "a\"b"}},
                      SplitCase{
                          "UnterminatedQuote", "p \"unterminated arg", {"p", "unterminated arg"}}),
    testing_support::RowName());

TEST(QuoteArgument, SplitsBackToTheSameArgument)
{
    const QStringList tricky = {QStringLiteral("plain"),
                                QStringLiteral(""),
                                QStringLiteral("with blank"),
                                QStringLiteral("/home/a \"quoted\" name/clip.mp4"),
                                QStringLiteral("trailing\\"),
                                QStringLiteral("trailing blank\\"),
                                QStringLiteral("\\\\server\\share\\\"x"),
                                QStringLiteral("-i\" -y -evil"),
                                QStringLiteral("tab\there")};
    for (const QString &arg : tricky) {
        const QStringList split = SplitCommandLine(QStringLiteral("prog ") + QuoteArgument(arg)
                                                   + QStringLiteral(" end"));
        ASSERT_EQ(split.size(), 3) << arg.toStdString();
        EXPECT_EQ(split[1], arg);
        EXPECT_EQ(split[2], QStringLiteral("end"));
    }
}

TEST(Processes, CapturesStandardOutputAndErrorOnOnePipeWithEndOfFileAsInput)
{
    // Standard input is /dev/null, neither the terminal nor a closed descriptor.
    const auto r = RunToEnd(QStringLiteral(
        "/bin/sh -c \"readlink /proc/self/fd/0; read x || echo eof; echo err 1>&2; exit 3\""));
    EXPECT_EQ(r.output, QStringLiteral("/dev/null\neof\nerr\n"));
    EXPECT_EQ(r.exitCode, 3);
}

TEST(Processes, AProgramThatCannotRunIsNotStarted)
{
    TestEnvironment env;
    Processes &p = TheProcesses();
    EXPECT_FALSE(p.Start(QStringLiteral("/no/such/program -x"), true).has_value());
    EXPECT_FALSE(p.Start(QStringLiteral("no-such-program-on-path"), false).has_value());
    EXPECT_FALSE(p.Start(QString(), false).has_value());
    // A file that is not executable.
    const QString text
        = testing_support::WriteFile(env.ScratchDir() + QStringLiteral("/notes.txt"), "hi");
    EXPECT_FALSE(p.Start(text, false).has_value());
}

TEST(Processes, AnUnquotedProgramPathWithBlanksIsFoundPrefixByPrefix)
{
    TestEnvironment env;
    const QString folder = env.ScratchDir() + QStringLiteral("/a b/c d");
    // Earlier prefixes that are no executable file are passed over.
    ASSERT_TRUE(QDir().mkpath(env.ScratchDir() + QStringLiteral("/a b/c")));
    ASSERT_TRUE(QDir().mkpath(folder));
    testing_support::WriteFile(env.ScratchDir() + QStringLiteral("/a"), "not a program");
    for (const char *name : {"/prog", "/run me"}) {
        const QString tool = testing_support::WriteFile(folder + QString::fromLatin1(name),
                                                        "#!/bin/sh\nIFS='|'; echo \"$*\"\n");
        QFile::setPermissions(tool, QFile::permissions(tool) | QFileDevice::ExeOwner);
    }
    EXPECT_EQ(RunToEnd(folder + QStringLiteral("/prog x \"y z\"")).output,
              QStringLiteral("x|y z\n"));
    EXPECT_EQ(RunToEnd(folder + QStringLiteral("/run me")).output, QStringLiteral("\n"));
}

TEST(Processes, AChildInheritsNoDescriptorBeyondTheStandardThree)
{
    // Descriptors opened without close-on-exec, one low and one beyond 1023.
    const int low = open("/dev/null", O_RDONLY);
    ASSERT_GE(low, 3);
    const int high = dup2(low, 1500);
    ASSERT_EQ(high, 1500);
    const auto r = RunToEnd(QStringLiteral("/bin/sh -c \"for fd in 0 1 2 %1 %2; do "
                                           "test -e /proc/self/fd/$fd && echo $fd; done\"")
                                .arg(low)
                                .arg(high));
    close(high);
    close(low);
    EXPECT_EQ(r.output, QStringLiteral("0\n1\n2\n"));
}

} // namespace
