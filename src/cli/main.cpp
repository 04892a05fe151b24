// pelorin-convert: the window's frame conversion for pictures and whole videos.
#include "cli_error.h"
#include "convert_job.h"
#include "picture_file/atomic_output.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The signals that stop a run. The run then removes what it wrote; it ends by the same signal,
// so that a shell loop around the tool stops as well, except for SIGPIPE (a closed pipe is a
// failure of the work, exit status 1).
constexpr int kStopSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE };

volatile sig_atomic_t g_stopSignal = 0;
pthread_t g_mainThread;

extern "C" void RequestStop(int signal)
{
    const int savedErrno = errno;
    if (g_stopSignal == 0)
        g_stopSignal = signal;
    pelorin::cli::g_stopRequested.store(true);
    // A read blocked on a stalled pipe gives way only when the signal interrupts it in its own
    // thread; a signal taken by one of FFmpeg's threads is passed on to the one that reads.
    if (!pthread_equal(pthread_self(), g_mainThread))
        pthread_kill(g_mainThread, signal);
    errno = savedErrno;
}

void CatchStopSignals()
{
    g_mainThread = pthread_self();
    for (const int signal : kStopSignals) {
        struct sigaction previous = {};
        sigaction(signal, nullptr, &previous);
        // A signal the caller set to be ignored (nohup, trap '' INT) stays ignored.
        if (previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = RequestStop;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a blocking read or write returns EINTR and sees the stop request.
        action.sa_flags = 0;
        sigaction(signal, &action, nullptr);
    }
}

[[noreturn]] void EndBy(int signal)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signal);
    // Only a signal whose default action is not to end the process comes back here.
    _exit(128 + signal);
}

// How long a run may take to give way to a stop request on its own (conversions notice it
// between rows, reads and writes at once) before it is ended without it: a decoder or encoder
// working on one huge picture cannot be interrupted.
constexpr auto kStopGrace = std::chrono::milliseconds(400);

std::atomic<bool> g_runEnded { false };

// Waits for a stop request; when the run has not ended a short grace after it, removes every
// temporary file the run has open and ends the process as the run would have: by the signal
// (exit status 1 for SIGPIPE).
void WatchForStop()
{
    using Clock = std::chrono::steady_clock;
    constexpr auto kPoll = std::chrono::milliseconds(10);
    while (!pelorin::cli::g_stopRequested.load()) {
        if (g_runEnded.load())
            return;
        std::this_thread::sleep_for(kPoll);
    }
    const auto deadline = Clock::now() + kStopGrace;
    while (Clock::now() < deadline) {
        if (g_runEnded.load())
            return;
        std::this_thread::sleep_for(kPoll);
    }
    pelorin::picture_file::AbandonAllOutputs();
    constexpr char kMessage[] = "pelorin-convert: stopped by a signal; no output was kept\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    const int signal = g_stopSignal;
    if (signal == 0 || signal == SIGPIPE)
        _exit(pelorin::cli::kExitFailure);
    EndBy(signal);
}

} // namespace

int main(int argc, char** argv)
{
    CatchStopSignals();
    std::thread watcher(WatchForStop);

    const std::vector<std::string> args(argv + 1, argv + argc);
    pelorin::cli::Console console;
    console.errIsTerminal = isatty(STDERR_FILENO) == 1;
    const int status = pelorin::cli::RunConvert(args, console);
    g_runEnded = true;
    watcher.join();
    const int signal = g_stopSignal;
    if (signal == SIGPIPE)
        return pelorin::cli::kExitFailure;
    if (signal != 0)
        EndBy(signal);
    return status;
}
