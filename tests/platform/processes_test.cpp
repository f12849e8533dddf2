#include "common/doubles.h"
#include "common/environment.h"
#include "common/table_rows.h"
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <QDir>

#include <fcntl.h>
#include <unistd.h>

using namespace platform;
using testing_support::RunToEnd;
using testing_support::TestEnvironment;

// Splitting by the Windows rules; that quoted words split back into themselves is the
// command-line fuzz target's property.

namespace {

using testing_support::operator<<;

struct SplitCase
{
    const char *name;
    const char *line;
    QStringList args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase>
{};

TEST_P(SplitCommandLineTest, FollowsTheWindowsRules)
{
    EXPECT_EQ(SplitCommandLine(QString::fromUtf8(GetParam().line)), GetParam().args);
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
    const QString text = testing_support::WriteFile(env.ScratchDir() + "/notes.txt", "hi");
    for (const QString &line :
         {QString("/no/such/program -x"), QString("no-such-program-on-path"), QString(), text})
        for (const bool capture : {false, true})
            EXPECT_FALSE(TheProcesses().Start(line, capture).has_value()) << line.toStdString();
}

// Earlier prefixes that are no executable file are passed over.
TEST(Processes, AnUnquotedProgramPathWithBlanksIsFoundPrefixByPrefix)
{
    TestEnvironment env;
    const QString folder = env.ScratchDir() + "/a b/c d";
    ASSERT_TRUE(QDir().mkpath(env.ScratchDir() + "/a b/c"));
    ASSERT_TRUE(QDir().mkpath(folder));
    testing_support::WriteFile(env.ScratchDir() + "/a", "not a program");
    for (const char *name : {"/prog", "/run me"})
        testing_support::WriteScript(folder + name, "IFS='|'; echo \"$*\"");
    EXPECT_EQ(RunToEnd(folder + "/prog x \"y z\"").output, QStringLiteral("x|y z\n"));
    EXPECT_EQ(RunToEnd(folder + "/run me").output, QStringLiteral("\n"));
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
