// The program on a pseudo-terminal: keys are taken without Enter and without echo,
// escape sequences choose nothing, and every way out leaves the terminal's
// settings as they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "session.h"

namespace {

struct Terminal {
    int master = -1;
    int slave = -1;  // kept open, so that the settings outlive the program
    pid_t child = -1;
    termios before{};
    std::string out;
};

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

termios settings(const Terminal& t) {
    termios now{};
    tcgetattr(t.slave, &now);
    return now;
}

void start(Terminal* t, const Folder& folder) {
    ASSERT_EQ(0, openpty(&t->master, &t->slave, nullptr, nullptr, nullptr));
    tcgetattr(t->slave, &t->before);
    t->child = fork();
    if (t->child == 0) {
        setsid();
        ioctl(t->slave, TIOCSCTTY, 0);
        for (int fd = 0; fd < 3; ++fd)
            dup2(t->slave, fd);
        close(t->master);
        close(t->slave);
        if (chdir(folder.dir.c_str()) != 0)
            _exit(126);
        setenv("LC_ALL", "C", 1);
        const char* program = std::getenv("SCHOOLS_PROGRAM");
        if (!program || !*program)
            program = SCHOOLS_BINARY;
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    fcntl(t->master, F_SETFL, O_NONBLOCK);
}

// Reads what the program prints until `text` has come, or `ms` milliseconds pass.
bool waitFor(Terminal* t, const std::string& text, int ms = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (!text.empty() && t->out.find(text) != std::string::npos)
            return true;
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0)
            return false;
        pollfd ready{t->master, POLLIN, 0};
        if (poll(&ready, 1, left) > 0) {
            char chunk[4096];
            ssize_t n = read(t->master, chunk, sizeof chunk);
            if (n <= 0)
                return false;  // the program has ended
            t->out.append(chunk, static_cast<std::size_t>(n));
        }
    }
}

void type(const Terminal& t, const std::string& keys) {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(t.master, keys.data(), keys.size()));
}

// Waits for the program's end; returns its exit status, or 128 + the signal.
int finish(Terminal* t) {
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(t->child, &status, WNOHANG) == 0) {
        waitFor(t, "", 50);
        if (std::chrono::steady_clock::now() > deadline) {
            kill(t->child, SIGKILL);
            waitpid(t->child, &status, 0);
        }
    }
    waitFor(t, "", 50);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void closeTerminal(Terminal* t) {
    close(t->master);
    close(t->slave);
}

const std::string kMenuPrompt = "Izberete rejims:";

TEST(Terminal, AKeyIsTakenWithoutEnterAndNotEchoed) {
    SKIP_UNLESS_POSIX("pseudo-terminals");
    Folder folder;
    Terminal t;
    start(&t, folder);
    ASSERT_TRUE(waitFor(&t, kMenuPrompt));
    type(t, "6");
    ASSERT_TRUE(waitFor(&t, "Press any key to continue . . . ")) << t.out;
    EXPECT_NE(std::string::npos,
              t.out.find(kMenuPrompt + "6\r\n\r\nNo memory used!Press any key to continue . . . "))
        << t.out;
    type(t, "q");
    ASSERT_TRUE(waitFor(&t, ". . . \r\n\x1b[H\x1b[2J\r\nProgram <School>")) << t.out;
    type(t, "7");
    EXPECT_EQ(0, finish(&t));
    EXPECT_TRUE(sameSettings(t.before, settings(t)));
    closeTerminal(&t);
}

TEST(Terminal, EscapeSequencesChooseNothing) {
    SKIP_UNLESS_POSIX("pseudo-terminals");
    Folder folder;
    Terminal t;
    start(&t, folder);
    ASSERT_TRUE(waitFor(&t, kMenuPrompt));
    // F5 and Ctrl+Up hold digits that the menu takes; Alt+1 sends ESC and '1'.
    for (const char* key : {"\x1b[15~", "\x1b[1;5A", "\x1bOP",
                            "\x1b"
                            "1",
                            "\x1b[A"}) {
        type(t, key);
        EXPECT_FALSE(waitFor(&t, kMenuPrompt + "1", 300)) << "key " << key + 1;
        EXPECT_FALSE(waitFor(&t, kMenuPrompt + "5", 1)) << "key " << key + 1;
    }
    type(t, "7");
    EXPECT_EQ(0, finish(&t));
    EXPECT_EQ(kMenuPrompt + "7\r\n", t.out.substr(t.out.size() - kMenuPrompt.size() - 3));
    EXPECT_TRUE(sameSettings(t.before, settings(t)));
    closeTerminal(&t);
}

TEST(Terminal, TheEndOfInputKeyAtAKeyWaitEndsWell) {
    SKIP_UNLESS_POSIX("pseudo-terminals");
    Folder folder;
    Terminal t;
    start(&t, folder);
    ASSERT_TRUE(waitFor(&t, kMenuPrompt));
    type(t, std::string(1, static_cast<char>(t.before.c_cc[VEOF])));
    EXPECT_EQ(0, finish(&t));
    EXPECT_EQ(kMenuPrompt + "\r\n", t.out.substr(t.out.size() - kMenuPrompt.size() - 2));
    EXPECT_TRUE(sameSettings(t.before, settings(t)));
    closeTerminal(&t);
}

struct Interrupt {
    const char* label;
    std::string keys;  // typed to reach the wait
    std::string wait;  // printed when the program waits
    int sig;
    bool typed;  // Ctrl-C typed at the terminal rather than a signal sent
};

void PrintTo(const Interrupt& c, std::ostream* os) {
    *os << c.label;
}

class Signals : public testing::TestWithParam<Interrupt> {};

TEST_P(Signals, LeaveTheTerminalAsItWas) {
    SKIP_UNLESS_POSIX("pseudo-terminals");
    const Interrupt& c = GetParam();
    Folder folder;
    Terminal t;
    start(&t, folder);
    ASSERT_TRUE(waitFor(&t, kMenuPrompt));
    type(t, c.keys);
    ASSERT_TRUE(waitFor(&t, c.wait)) << t.out;
    if (c.wait == kMenuPrompt) {
        // The key wait has the terminal out of line mode: the case is worth testing.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((settings(t).c_lflag & ICANON) && std::chrono::steady_clock::now() < deadline)
            usleep(1000);
        ASSERT_FALSE(settings(t).c_lflag & ICANON);
    }
    if (c.typed)
        type(t, "\x03");
    else
        kill(t.child, c.sig);
    EXPECT_EQ(128 + c.sig, finish(&t));
    EXPECT_TRUE(sameSettings(t.before, settings(t)));
    closeTerminal(&t);
}

const std::string kLineWait = "(yes/no)";
const std::string kNumberWait = "show?:\r\n";

INSTANTIATE_TEST_SUITE_P(
    Waits, Signals,
    testing::Values(Interrupt{"IntAtKey", "", kMenuPrompt, SIGINT, false},
                    Interrupt{"TermAtKey", "", kMenuPrompt, SIGTERM, false},
                    Interrupt{"HupAtKey", "", kMenuPrompt, SIGHUP, false},
                    Interrupt{"CtrlCAtKey", "", kMenuPrompt, SIGINT, true},
                    Interrupt{"IntAtLine", "111", kLineWait, SIGINT, false},
                    Interrupt{"TermAtLine", "111", kLineWait, SIGTERM, false},
                    Interrupt{"HupAtLine", "111", kLineWait, SIGHUP, false},
                    Interrupt{"IntAtNumber", "5", kNumberWait, SIGINT, false},
                    Interrupt{"TermAtNumber", "5", kNumberWait, SIGTERM, false},
                    Interrupt{"HupAtNumber", "5", kNumberWait, SIGHUP, false}),
    [](const testing::TestParamInfo<Interrupt>& c) { return std::string(c.param.label); });

}  // namespace
