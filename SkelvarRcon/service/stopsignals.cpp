#include "SkelvarRcon/service/stopsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace skelvar::rcon {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_received = 0;

extern "C" void onStopSignal(int signalNumber)
{
    if (g_received)
        _exit(128 + signalNumber);
    g_received = signalNumber;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
}

StopSignals::~StopSignals()
{
    if (!m_installed)
        return;
    for (const int s : kSignals)
        std::signal(s, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
    g_received = 0;
}

bool StopSignals::install(QString* error)
{
    if (m_installed)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error)
            *error =
                QStringLiteral("No pipe for the stop signals: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::onReadable);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals)
        sigaction(s, &action, nullptr);
    m_installed = true;
    return true;
}

void StopSignals::onReadable()
{
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        emit stopRequested(byte);
}

}  // namespace skelvar::rcon
