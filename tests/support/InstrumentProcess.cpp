#include "InstrumentProcess.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

InstrumentProcess::InstrumentProcess(const std::vector<std::string> &arguments,
                                     std::chrono::milliseconds startBound)
{
    std::vector<std::string> words {VANDREL_INSTRUMENT_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    const pid_t parent = ::getpid();
    Pid = ::fork();
    if (Pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(out[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    Output = out[0];
    std::string line;
    char c = 0;
    pollfd ready {out[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + startBound;
    while (Pid > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1
            || ::read(out[0], &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    if (c == '\n')
        FirstLine = line;
}

InstrumentProcess::~InstrumentProcess()
{
    if (Pid > 0 && Status < 0) {
        ::kill(Pid, SIGKILL);
        reap(0);
    }
    if (Output >= 0)
        ::close(Output);
}

bool InstrumentProcess::reap(int options)
{
    int status = 0;
    if (::waitpid(Pid, &status, options) != Pid)
        return false;
    Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool InstrumentProcess::running()
{
    return Pid > 0 && Status < 0 && !reap(WNOHANG);
}

void InstrumentProcess::signal(int number) const
{
    if (Pid > 0 && Status < 0)
        ::kill(Pid, number);
}

int InstrumentProcess::exitCode(std::chrono::milliseconds bound)
{
    // waitpid has no time-out; polling it is the plain way to bound the wait for one child.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Status;
}
