#include "pty_target.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace targetsim {

namespace {

struct SpeedEntry {
    speed_t code;
    int bitRate;
};
constexpr SpeedEntry kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

// After the last answer of a --once run, the host gets this long to read it.
constexpr auto kDrainLimit = std::chrono::seconds(3);
// Bytes written to the master reach the slave's queue a moment later; until then the queue
// looks read. Ending before that hangs the line up with the last answer still unread.
constexpr auto kLastByteSettle = std::chrono::milliseconds(100);

} // namespace

PtyTarget::PtyTarget(const SimOptions &options) : m_options(options), m_target(options.config) {
    if (options.adapterLatencyMs > 0)
        m_adapter.emplace(std::chrono::milliseconds(options.adapterLatencyMs));
}

PtyTarget::~PtyTarget() {
    removeLink();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

QString PtyTarget::start() {
    if (!m_options.record.isEmpty()) {
        m_record.setFileName(m_options.record);
        if (!m_record.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return QString("cannot write %1: %2").arg(m_options.record, m_record.errorString());
    }
    if (!m_options.steps.isEmpty()) {
        m_stepLog.setFileName(m_options.steps);
        if (!m_stepLog.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return QString("cannot write %1: %2").arg(m_options.steps, m_stepLog.errorString());
    }
    return openLine();
}

QString PtyTarget::openLine() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return QString("cannot open a pseudo-terminal: %1").arg(std::strerror(errno));
    const char *name = ::ptsname(m_master);
    if (!name)
        return QString("cannot name the pseudo-terminal: %1").arg(std::strerror(errno));
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // Our own slave descriptor keeps the line up while the host has its end closed. Raw mode,
    // so nothing is echoed or translated before the host sets its own modes.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slave < 0)
        return QString("cannot open %1: %2").arg(m_slavePath, std::strerror(errno));
    termios modes{};
    if (::tcgetattr(m_slave, &modes) == 0) {
        ::cfmakeraw(&modes);
        ::cfsetspeed(&modes, B9600);
        ::tcsetattr(m_slave, TCSANOW, &modes);
    }

    const QString link = m_options.link;
    const QFileInfo info(link);
    if (info.isSymLink()) {
        QFile::remove(link); // a stale link from an earlier run
    } else if (info.exists()) {
        return QString("%1 exists and is not a link").arg(link);
    }
    if (::symlink(name, QFile::encodeName(link).constData()) != 0)
        return QString("cannot link %1: %2").arg(link, std::strerror(errno));
    m_linked = true;
    return {};
}

PtyTarget::HostLine PtyTarget::hostLine() const {
    // Both ends of a pseudo-terminal share one set of line settings.
    termios modes{};
    HostLine line;
    if (m_slave < 0 || ::tcgetattr(m_slave, &modes) != 0)
        return line;
    const speed_t code = ::cfgetospeed(&modes);
    for (const auto &entry : kSpeeds)
        if (entry.code == code)
            line.bitRate = entry.bitRate;
    const tcflag_t size = modes.c_cflag & CSIZE;
    const int dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    line.frameBits =
        1 + dataBits + ((modes.c_cflag & PARENB) ? 1 : 0) + ((modes.c_cflag & CSTOPB) ? 2 : 1);
    return line;
}

PtyTarget::Clock::duration PtyTarget::hostFrameTime(const HostLine &line) const {
    if (!m_options.pace || line.bitRate <= 0)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(line.frameBits) / line.bitRate));
}

PtyTarget::Clock::duration PtyTarget::chipByteTime(int bitRate) const {
    if (!m_options.pace || bitRate <= 0)
        return Clock::duration::zero();
    // Start bit, eight data bits, stop bit, at the chip's own clock: a slow clock, long bits.
    const double rate = bitRate * (1.0 + m_options.clockErrorPct / 100.0);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / rate));
}

bool PtyTarget::overruns(const InByte &in) {
    if (!m_options.pace || m_target.dead())
        return false;
    // One shift register and one data register, no FIFO: a character complete while the one
    // before still waits in the data register is lost, and the receiver stops until its error
    // flag is cleared, which a boot program waiting for its next byte never does.
    if (in.due >= m_registerFreeAt) {
        m_registerFreeAt = std::max(in.due, m_programFreeAt);
        return false;
    }
    if (!m_overrunReported)
        std::fprintf(stderr,
                     "qarn-target-sim: receive overrun at byte %d of the kernel transfer: "
                     "the chip stops receiving\n",
                     m_echoes.bytes);
    m_overrunReported = true;
    m_target.overrun();
    return true;
}

void PtyTarget::readMaster() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return; // EAGAIN: all read. EIO cannot happen while our slave end is open.
        if (m_record.isOpen())
            m_record.write(buffer, n);
        const HostLine line = hostLine();
        const auto frame = hostFrameTime(line);
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            const auto due = std::max(now, m_lastInDue) + frame;
            m_lastInDue = due;
            m_in.push_back(InByte{static_cast<uint8_t>(buffer[i]), line.bitRate, due, now});
        }
    }
}

void PtyTarget::processDueInput() {
    // A byte is taken as soon as it arrives, but its answer starts only once the byte has had
    // its time on the wire (its due time): the pacing stays exact with one wake-up less per
    // byte, which an echoed kernel transfer pays thousands of times.
    while (!m_in.empty() && !m_dropped) {
        const InByte in = m_in.front();
        m_in.pop_front();
        if (m_options.serve && m_target.finished())
            freshTarget(); // the next device on the line: the host starts over with a reset chip
        if (overruns(in))
            continue;
        const bool kernelByte = m_target.inKernelTransfer();
        const QList<Action> actions = m_target.receive(in.byte, in.bitRate);
        if (kernelByte)
            noteKernelByte(in, actions);
        logSteps();
        perform(actions, m_options.pace ? m_registerFreeAt : in.due);
    }
}

void PtyTarget::freshTarget() {
    m_target = TargetSim(m_options.config);
    m_stepsLogged = 0;
    m_finishSeen = false;
    m_echoes = EchoStats();
    m_overrunReported = false;
}

void PtyTarget::logSteps() {
    const QList<Step> &steps = m_target.steps();
    for (; m_stepsLogged < steps.size(); ++m_stepsLogged) {
        if (m_stepLog.isOpen())
            m_stepLog.write((stepName(steps[m_stepsLogged]) + u'\n').toLatin1());
    }
}

void PtyTarget::noteKernelByte(const InByte &in, const QList<Action> &actions) {
    EchoStats &echoes = m_echoes;
    if (!echoes.start)
        echoes.start = in.arrived;
    else
        echoes.reactions.push_back(in.arrived - m_lastWrite);
    ++echoes.bytes;
    // The last kernel byte: its echo, the first answer, has left once it has been written.
    if (!m_target.inKernelTransfer() && !actions.isEmpty() && actions.first().kind == Action::Send)
        echoes.lastEchoAt = m_queued + actions.first().bytes.size();
}

void PtyTarget::reportEchoes(Clock::time_point end) {
    EchoStats echoes = std::exchange(m_echoes, EchoStats());
    if (!m_options.echoReport || !echoes.start)
        return;
    std::vector<Clock::duration> &r = echoes.reactions;
    std::sort(r.begin(), r.end());
    const auto us = [&](double share) {
        if (r.empty())
            return 0.0;
        const size_t at = std::min(r.size() - 1, size_t(std::ceil(share * double(r.size()))) - 1);
        return std::chrono::duration<double, std::micro>(r[at]).count();
    };
    // The reactions' sum is the host's share of the transfer: a few long ones weigh there as
    // much as many short ones, and the median does not show them.
    const double total = std::chrono::duration<double>(
                             std::accumulate(r.begin(), r.end(), Clock::duration::zero()))
                             .count();
    std::printf("kernel transfer: %d bytes echoed in %.6f s; host reaction to an echo: median "
                "%.1f us, 99th percentile %.1f us (%zu echoes), longest %.1f us, all together "
                "%.6f s\n",
                echoes.bytes, std::chrono::duration<double>(end - *echoes.start).count(), us(0.5),
                us(0.99), r.size(), us(1.0), total);
    std::fflush(stdout);
}

void PtyTarget::perform(const QList<Action> &actions, Clock::time_point received) {
    // Paced, the chip's own time: its program acts when it has taken the byte; a moment this
    // process was held up elsewhere does not make the chip slower.
    auto program = m_options.pace ? received : std::max(Clock::now(), received);
    for (const Action &action : actions) {
        if (action.kind == Action::Drop) {
            dropLine();
            return;
        }
        const auto byteTime = chipByteTime(hostLine().bitRate);
        program += action.delay;
        for (char byte : action.bytes) {
            // The program waits for the transmit data register, free once the byte before has
            // moved on into the shift register (its start on the wire).
            program = std::max(program, m_lastOutDue - byteTime);
            m_lastOutDue = std::max(program, m_lastOutDue) + byteTime;
            m_out.push_back(OutByte{byte, m_lastOutDue});
        }
        m_queued += action.bytes.size();
    }
    m_programFreeAt = program;
}

void PtyTarget::writeDueOutput() {
    if (m_dropped)
        return;
    // Everything due goes out in one write, so a reply and an extra byte arrive together.
    const auto now = Clock::now();
    QByteArray due;
    while (!m_out.empty() && m_out.front().due <= now) {
        if (m_adapter)
            m_adapter->take(m_out.front().byte, m_out.front().due);
        else
            due.append(m_out.front().byte);
        m_out.pop_front();
    }
    writeToHost(m_adapter ? m_adapter->ready(now) : due);
    // What the host did not take yet goes first next time.
    for (auto byte = due.crbegin(); byte != due.crend(); ++byte)
        m_out.push_front(OutByte{*byte, now});
}

void PtyTarget::writeToHost(QByteArray &bytes) {
    if (bytes.isEmpty())
        return;
    const ssize_t n = ::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (n <= 0)
        return;
    m_lastWrite = Clock::now();
    bytes.remove(0, n);
    m_written += n;
    if (m_echoes.lastEchoAt > 0 && m_written >= m_echoes.lastEchoAt)
        reportEchoes(m_lastWrite);
}

std::optional<PtyTarget::Clock::time_point> PtyTarget::outputDue() const {
    std::optional<Clock::time_point> due = m_adapter ? m_adapter->due() : std::nullopt;
    if (!m_out.empty() && (!due || m_out.front().due < *due))
        due = m_out.front().due;
    return due;
}

void PtyTarget::dropLine() {
    m_dropped = true;
    m_in.clear();
    m_out.clear();
    m_adapter.reset();
    removeLink();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}

bool PtyTarget::takeRequests(int requestFd) {
    char requests[16];
    const ssize_t n = ::read(requestFd, requests, sizeof requests);
    const auto end = requests + std::max<ssize_t>(n, 0);
    if (std::find(requests, end, kStopRequest) != end)
        return false;
    if (std::find(requests, end, kResetRequest) != end)
        reset();
    return true;
}

void PtyTarget::reset() {
    // Whatever was on its way in either direction is lost with the chip's state.
    if (!m_dropped) {
        char discarded[4096];
        while (::read(m_master, discarded, sizeof discarded) > 0) {
        }
    }
    m_in.clear();
    m_out.clear();
    if (m_options.adapterLatencyMs > 0)
        m_adapter.emplace(std::chrono::milliseconds(m_options.adapterLatencyMs));
    m_lastInDue = m_lastOutDue = m_programFreeAt = m_registerFreeAt = {};
    freshTarget();
    if (m_dropped) {
        m_dropped = false;
        if (const QString error = openLine(); !error.isEmpty()) {
            std::fprintf(stderr, "qarn-target-sim: %s\n", qPrintable(error));
            dropLine(); // no line, as before the reset
            return;
        }
    }
    std::printf("ready %s\n", qPrintable(m_slavePath));
    std::fflush(stdout);
}

void PtyTarget::removeLink() {
    if (!m_linked)
        return;
    m_linked = false;
    // Only our own link: someone may have replaced it meanwhile.
    if (QFileInfo(m_options.link).symLinkTarget() == QFileInfo(m_slavePath).absoluteFilePath())
        QFile::remove(m_options.link);
}

bool PtyTarget::hostHasReadEverything() const {
    if (m_slave < 0)
        return true;
    int waiting = 0;
    return ::ioctl(m_slave, FIONREAD, &waiting) == 0 && waiting == 0;
}

void PtyTarget::saveFlash() const {
    if (m_options.saveFlash.isEmpty())
        return;
    QSaveFile file(m_options.saveFlash);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(m_target.flash());
        file.commit();
    }
}

int PtyTarget::pollTimeoutUs() const {
    std::optional<Clock::time_point> next;
    if (!m_in.empty())
        next = m_in.front().due;
    if (const auto out = outputDue())
        next = next ? std::min(*next, *out) : *out;
    if (m_finishSeen && m_options.once)
        next = next ? std::min(*next, Clock::now() + std::chrono::milliseconds(20))
                    : Clock::now() + std::chrono::milliseconds(20);
    if (!next)
        return -1;
    // Microseconds, not milliseconds: at 115200 bit/s a byte takes 87 us, and rounding each
    // wait up to a whole millisecond made every echoed kernel byte cost two.
    const auto wait =
        std::chrono::duration_cast<std::chrono::microseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(wait + 1, 0, 60'000'000));
}

int PtyTarget::run(int requestFd) {
    // Pacing sleeps are a byte time long (87 us at 115200 bit/s); the default 50 us of timer
    // slack would add more than half of that to every one.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    int status = 0;
    for (;;) {
        pollfd fds[2] = {{requestFd, POLLIN, 0}, {m_master, POLLIN, 0}};
        if (const auto out = outputDue(); out && *out <= Clock::now())
            fds[1].events |= POLLOUT;
        const nfds_t count = m_dropped ? 1 : 2;
        const int waitUs = pollTimeoutUs();
        const timespec timeout{waitUs / 1'000'000, (waitUs % 1'000'000) * 1000L};
        if (::ppoll(fds, count, waitUs < 0 ? nullptr : &timeout, nullptr) < 0 && errno != EINTR) {
            status = 1;
            break;
        }
        if ((fds[0].revents & POLLIN) && !takeRequests(requestFd))
            break;
        if (!m_dropped && (fds[1].revents & POLLIN))
            readMaster();
        processDueInput();
        writeDueOutput();

        if (m_target.finished() && !m_finishSeen) {
            m_finishSeen = true;
            m_finishedAt = Clock::now();
            saveFlash();
        }
        if (m_options.once && m_finishSeen && !outputDue() &&
            ((hostHasReadEverything() &&
              Clock::now() - std::max(m_lastOutDue, m_lastWrite) > kLastByteSettle) ||
             Clock::now() - m_finishedAt > kDrainLimit))
            break;
    }
    saveFlash();
    removeLink();
    return status;
}

} // namespace targetsim
