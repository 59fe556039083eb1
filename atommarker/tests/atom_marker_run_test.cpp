// The run of tessmark against a recording stand-in of the platform: one row
// per outcome of the command line, with the output, the exit code and the
// platform calls in order; then the same rows with standard output on a
// pipe and on a file, read while the run's process is still alive.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "atommarker/atom_marker.h"
#include "atommarker/tests/recording_platform.h"

namespace {

typedef std::vector<std::string> Lines;  // each with its newline

const Lines kUsage = {
    "Usage: tessmark operation uniqueid\n",
    "\n",
    "  operation      add     add a global atom\n",
    "                 delete  delete a global atom\n",
    "                 find    find a global atom\n",
    "  uniqueid       a uniqueid to use for the global atom\n",
};

const char kInvalidParameterText[] = "The parameter is incorrect.\r\n";
const char kFormatCall87[] = "FormatMessageA(0x1300, null, 87, 0, buffer, 0, null)";

struct RunCase {
    const char *label;
    std::vector<const char *> arguments;  // after the program name
    PlatformScript script;
    std::vector<std::string> calls;
    Lines lines;
    int exitCode;
};

Lines usageAfter(const std::string &firstLine)
{
    Lines lines = {firstLine + "\n"};
    lines.insert(lines.end(), kUsage.begin(), kUsage.end());
    return lines;
}

std::string joined(const Lines &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line;
    return text;
}

// Where each line ends in the whole output.
std::vector<size_t> lineEnds(const Lines &lines)
{
    std::vector<size_t> ends;
    size_t end = 0;
    for (const std::string &line : lines) {
        end += line.size();
        ends.push_back(end);
    }
    return ends;
}

const std::vector<RunCase> &runCases()
{
    static const std::vector<RunCase> cases = {
        {"no argument", {}, {}, {}, usageAfter("Invalid syntax."), 1},
        {"one argument", {"add"}, {}, {}, usageAfter("Invalid syntax."), 1},
        {"three arguments", {"add", "marker", "extra"}, {}, {}, usageAfter("Invalid syntax."), 1},
        {"add, name not in the table",
         {"add", "marker"},
         {0, 49153, 0, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(marker)", "GlobalAddAtomA(marker)"},
         {"New Atom: 49153\n"},
         0},
        {"add, name already in the table",
         {"add", "marker"},
         {49153, 0, 0, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(marker)"},
         {"Atom already exists for: marker\n"},
         2},
        {"add, the table refuses the name",
         {"add", ""},
         {0, 0, 87, kInvalidParameterText},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA()", "GlobalAddAtomA()", "GetLastError()",
          kFormatCall87, "LocalFree(message text)"},
         {std::string(kInvalidParameterText) + "\n", "New Atom: 0\n"},
         0},
        {"add refused, the platform has no text for the code",
         {"add", "marker"},
         {0, 0, 4242, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(marker)", "GlobalAddAtomA(marker)",
          "GetLastError()", "FormatMessageA(0x1300, null, 4242, 0, buffer, 0, null)"},
         {"\n", "New Atom: 0\n"},
         0},
        {"delete, name found",
         {"delete", "marker"},
         {49152, 0, 0, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(marker)", "GlobalDeleteAtom(49152)"},
         {"Deleted Atom: 49152\n"},
         0},
        {"delete, name not found",
         {"delete", "marker"},
         {0, 0, 2, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(marker)"},
         {"Atom not found for: marker\n"},
         3},
        {"find, name found",
         {"find", "marker"},
         {49152, 0, 0, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(marker)"},
         {"Found Atom: 49152\n"},
         0},
        {"find, name not found",
         {"find", "marker"},
         {0, 0, 2, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(marker)"},
         {"Atom not found for: marker\n"},
         3},
        {"other operation",
         {"remove", "marker"},
         {},
         {},
         usageAfter("Invalid operation specified: remove"),
         1},
        {"operation in another case",
         {"Add", "marker"},
         {},
         {},
         usageAfter("Invalid operation specified: Add"),
         1},
        {"operation in capitals",
         {"FIND", "marker"},
         {},
         {},
         usageAfter("Invalid operation specified: FIND"),
         1},
        {"prefix of an operation",
         {"ad", "marker"},
         {},
         {},
         usageAfter("Invalid operation specified: ad"),
         1},
        {"operation with more letters",
         {"adds", "marker"},
         {},
         {},
         usageAfter("Invalid operation specified: adds"),
         1},
        {"empty operation", {"", "marker"}, {}, {}, usageAfter("Invalid operation specified: "), 1},
        {"operation echoed byte for byte",
         {"d\xc3\xa9lete ", "marker"},
         {},
         {},
         usageAfter("Invalid operation specified: d\xc3\xa9lete "),
         1},
        {"find, the largest atom prints unsigned",
         {"find", "top"},
         {65535, 0, 0, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(top)"},
         {"Found Atom: 65535\n"},
         0},
        {"delete, the largest atom prints unsigned",
         {"delete", "top"},
         {65535, 0, 0, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(top)", "GlobalDeleteAtom(65535)"},
         {"Deleted Atom: 65535\n"},
         0},
        {"add, the largest atom prints unsigned",
         {"add", "top"},
         {0, 65535, 0, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA(top)", "GlobalAddAtomA(top)"},
         {"New Atom: 65535\n"},
         0},
        {"name echoed byte for byte",
         {"find", " Mark\t\xc3\xa9 #1 "},
         {0, 0, 2, nullptr},
         {"LoadLibraryA(user32.dll)", "GlobalFindAtomA( Mark\t\xc3\xa9 #1 )"},
         {"Atom not found for:  Mark\t\xc3\xa9 #1 \n"},
         3},
    };
    return cases;
}

std::vector<char *> commandLine(const RunCase &c)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("tessmark"));
    for (const char *argument : c.arguments)
        argv.push_back(const_cast<char *>(argument));
    argv.push_back(nullptr);
    return argv;
}

int argumentCount(const std::vector<char *> &argv)
{
    return static_cast<int>(argv.size() - 1);
}

// Takes what the run writes to std::cout and where it flushes.
struct CapturingBuffer : std::streambuf {
    std::string text;
    std::vector<size_t> flushedAt;

    int_type overflow(int_type c) override
    {
        if (c != traits_type::eof())
            text.push_back(static_cast<char>(c));
        return c;
    }
    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        text.append(s, static_cast<size_t>(n));
        return n;
    }
    int sync() override
    {
        flushedAt.push_back(text.size());
        return 0;
    }
};

TEST(AtomMarkerRun, EachOutcomeOfTheCommandLine)
{
    for (const RunCase &c : runCases()) {
        SCOPED_TRACE(c.label);
        CapturingBuffer captured;
        startRecording(c.script, &captured.text);
        std::streambuf *saved = std::cout.rdbuf(&captured);
        std::vector<char *> argv = commandLine(c);
        int exitCode = runAtomMarker(argumentCount(argv), argv.data());
        std::cout.rdbuf(saved);

        EXPECT_EQ(c.exitCode, exitCode);
        EXPECT_EQ(joined(c.lines), captured.text);
        std::vector<std::string> calls;
        for (const RecordedCall &call : recordedCalls()) {
            calls.push_back(call.call);
            // Only the release of the message text comes after a line:
            // that line, and nothing else, is out before it.
            size_t expectedBytes = 0;
            if (call.call.rfind("LocalFree", 0) == 0)
                expectedBytes = c.lines[0].size();
            EXPECT_EQ(expectedBytes, call.outputBytes) << call.call;
        }
        EXPECT_EQ(c.calls, calls);
        EXPECT_EQ(lineEnds(c.lines), captured.flushedAt) << "a flush at each line end, no other";
        EXPECT_EQ(0, unreleasedMessageTexts());
    }
}

// The same rows with standard output on a pipe or a file.  The run happens
// in a child that stops when it releases the message text and again after
// the run routine returns, before it exits; each time the parent must
// already have every line written so far.  The child ends with _exit, so
// nothing the run left unflushed could reach the output afterwards.

const int kWaitMilliseconds = 5000;

enum OutputKind {
    OUTPUT_PIPE,
    OUTPUT_FILE
};

int goSignalFd = -1;

void waitForGo()
{
    char go;
    while (read(goSignalFd, &go, 1) < 0) {
    }
}

// Reads until `expected` bytes are there or the time is up.
std::string readOutputUntil(int fd, OutputKind kind, std::string soFar, size_t expected)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMilliseconds);
    char chunk[4096];
    while (soFar.size() < expected && std::chrono::steady_clock::now() < deadline) {
        if (kind == OUTPUT_PIPE) {
            struct pollfd ready = {fd, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0)
                continue;
        }
        ssize_t got = kind == OUTPUT_FILE
                          ? pread(fd, chunk, sizeof chunk, static_cast<off_t>(soFar.size()))
                          : read(fd, chunk, sizeof chunk);
        if (got > 0)
            soFar.append(chunk, static_cast<size_t>(got));
        else if (kind == OUTPUT_FILE)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        else if (got == 0)
            break;  // writer gone
    }
    return soFar;
}

void checkOutputArrivesWhileRunning(const RunCase &c, OutputKind kind)
{
    int output[2] = {-1, -1};
    char path[] = "/tmp/tessmark-output-XXXXXX";
    if (kind == OUTPUT_PIPE) {
        ASSERT_EQ(0, pipe(output));
    } else {
        output[0] = mkstemp(path);
        ASSERT_GE(output[0], 0);
        unlink(path);
        output[1] = dup(output[0]);
    }
    int go[2];
    ASSERT_EQ(0, pipe(go));
    std::fflush(stdout);
    std::cout.flush();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);  // never outlives a parent that stopped waiting
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(go[1]);
        goSignalFd = go[0];
        startRecording(c.script, nullptr);
        setLocalFreeHook(waitForGo);
        std::vector<char *> argv = commandLine(c);
        int exitCode = runAtomMarker(argumentCount(argv), argv.data());
        waitForGo();
        _exit(exitCode);
    }
    close(output[1]);
    close(go[0]);

    std::string received;
    bool pausesAtRelease = false;
    for (const std::string &call : c.calls)
        pausesAtRelease = pausesAtRelease || call.rfind("LocalFree", 0) == 0;
    if (pausesAtRelease) {
        received = readOutputUntil(output[0], kind, received, c.lines[0].size());
        EXPECT_EQ(c.lines[0], received) << "before the text is released";
        EXPECT_EQ(1, write(go[1], "g", 1));
    }
    std::string whole = joined(c.lines);
    received = readOutputUntil(output[0], kind, received, whole.size());
    EXPECT_EQ(whole, received) << "before the process ends";
    EXPECT_EQ(1, write(go[1], "g", 1));

    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(c.exitCode, WEXITSTATUS(status));
    close(output[0]);
    close(go[1]);
}

TEST(AtomMarkerRun, EveryLineReachesAPipeAsSoonAsItEnds)
{
    for (const RunCase &c : runCases()) {
        SCOPED_TRACE(c.label);
        checkOutputArrivesWhileRunning(c, OUTPUT_PIPE);
    }
}

TEST(AtomMarkerRun, EveryLineReachesAFileAsSoonAsItEnds)
{
    for (const RunCase &c : runCases()) {
        SCOPED_TRACE(c.label);
        checkOutputArrivesWhileRunning(c, OUTPUT_FILE);
    }
}

}  // namespace
