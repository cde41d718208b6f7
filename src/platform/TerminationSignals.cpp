#include "platform/TerminationSignals.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcTermination, "glanto.termination", QtInfoMsg)

namespace {

constexpr std::array handledSignals{SIGTERM, SIGHUP, SIGINT};

// What the handler may touch: plain integers, set before it is installed.
int wakeFds[2] = {-1, -1};
volatile std::sig_atomic_t alreadyAsked = 0;
std::array<struct sigaction, handledSignals.size()> previous{};
std::array<bool, handledSignals.size()> installed{};

extern "C" void onTerminationSignal(int number)
{
    if (alreadyAsked) {
        // Asked again while the orderly quit runs: end now. The signal is
        // blocked inside its handler, so it is delivered on return.
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    alreadyAsked = 1;
    const int savedErrno = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject *parent)
    : QObject(parent)
    , onSignal(std::move(onSignal))
{
    Q_ASSERT(wakeFds[0] < 0);
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcTermination) << "no pipe for termination signals:" << std::strerror(errno);
        wakeFds[0] = wakeFds[1] = -1;
        return;
    }
    alreadyAsked = 0;
    notifier = std::make_unique<QSocketNotifier>(wakeFds[0], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        ssize_t count = ::read(wakeFds[0], bytes, sizeof bytes);
        if (count <= 0 || !this->onSignal)
            return;
        qCDebug(lcTermination) << "quitting on signal" << int(bytes[0]);
        // Once: a later signal no longer comes here.
        notifier->setEnabled(false);
        this->onSignal();
    });

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i) {
        if (::sigaction(handledSignals[i], nullptr, &previous[i]) != 0 || previous[i].sa_handler == SIG_IGN)
            continue;
        installed[i] = ::sigaction(handledSignals[i], &action, nullptr) == 0;
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < handledSignals.size(); ++i) {
        if (installed[i])
            ::sigaction(handledSignals[i], &previous[i], nullptr);
        installed[i] = false;
    }
    notifier.reset();
    for (int &fd : wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
