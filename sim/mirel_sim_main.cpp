// mirel-sim: a simulated Mirel board on a pseudo-terminal.

#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>

#include "pty_board.h"
#include "pty_replay.h"
#include "sim_options.h"

namespace {

using namespace fernwick::sim;

// The signals arrive through a descriptor, so that the poll loop takes them
// between two steps of the board and never in the middle of one.
int signal_descriptor()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv)
{
    const auto parsed = parse_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "mirel-sim: %s\nTry 'mirel-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    const auto& options = *parsed.options;
    if (options.help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("mirel-sim %s\n", FERNWICK_VERSION);
        return 0;
    }
    const int signals = signal_descriptor();
    if (signals >= 0 && !options.replay_path.empty()) return run_replay(options, signals);
    pty_board board(options);
    std::string error;
    if (signals < 0) return 1;
    if (!board.preload(error) || !board.open(error)) {
        std::fprintf(stderr, "mirel-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", board.device().c_str());
    std::fflush(stdout);
    board.run(signals);
    return board.dump_flash() ? 0 : 1;
}
