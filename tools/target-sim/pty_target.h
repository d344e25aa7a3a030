#pragma once
// The simulated target on a pseudo-terminal. The host opens the slave (through the link) like
// a serial port; the target reads the master. A slave descriptor stays open here all the time,
// so the host may close and reopen its end between phases without the line hanging up, and
// the line settings the host set (speed, parity, stop bits) are read from it for every byte
// that arrives: they make the time each of the host's characters takes on the wire.

#include "adapter_chip.h"
#include "sim_options.h"
#include "target_sim.h"

#include <QFile>
#include <QString>
#include <chrono>
#include <deque>
#include <optional>
#include <vector>

namespace targetsim {

// What a byte on the request descriptor of PtyTarget::run asks for.
inline constexpr char kStopRequest = 1;
inline constexpr char kResetRequest = 2;

class PtyTarget {
public:
    explicit PtyTarget(const SimOptions &options);
    ~PtyTarget();
    PtyTarget(const PtyTarget &) = delete;
    PtyTarget &operator=(const PtyTarget &) = delete;

    // Opens the pseudo-terminal and links its slave. "" on success, else what went wrong.
    QString start();
    QString slavePath() const { return m_slavePath; }

    // Serves the host until a stop request arrives on `requestFd` or, with --once, until one
    // download has ended. A reset request gives a fresh target, as the device's reset would, in
    // the middle of a download too, and prints 'ready <slave>' again; a line that was dropped
    // comes back on a new pseudo-terminal, linked in the same place. Returns the exit status.
    int run(int requestFd);

    const TargetSim &target() const { return m_target; }

private:
    using Clock = std::chrono::steady_clock;
    struct InByte {
        uint8_t byte;
        int bitRate;
        Clock::time_point due;
        Clock::time_point arrived;
    };
    // --echo-report: the kernel transfer as the target's clock sees it.
    struct EchoStats {
        std::optional<Clock::time_point> start; // the first length byte arrived
        int bytes = 0;
        std::vector<Clock::duration> reactions; // last write to the host -> next kernel byte
        qint64 lastEchoAt = 0;                  // bytes written once the last echo has left
    };
    struct OutByte {
        char byte;
        Clock::time_point due;
    };

    struct HostLine {
        int bitRate = 0;
        int frameBits = 10; // start, data, parity and stop bits of the host's characters
    };
    HostLine hostLine() const;
    // A character of the host on the wire, and one of the chip (8N1 at its own clock).
    Clock::duration hostFrameTime(const HostLine &line) const;
    Clock::duration chipByteTime(int bitRate) const;
    // True when the character due then finds the chip's receive data register still full.
    bool overruns(const InByte &in);
    void readMaster();
    void processDueInput();
    void writeDueOutput();
    void writeToHost(QByteArray &bytes);
    std::optional<Clock::time_point> outputDue() const;
    void noteKernelByte(const InByte &in, const QList<Action> &actions);
    void reportEchoes(Clock::time_point end);
    void perform(const QList<Action> &actions, Clock::time_point received);
    QString openLine();
    void dropLine();
    void freshTarget();
    // Takes the pending requests; false when one of them is to stop.
    bool takeRequests(int requestFd);
    void reset();
    void removeLink();
    bool hostHasReadEverything() const;
    void saveFlash() const;
    void logSteps();
    int pollTimeoutUs() const; // -1: nothing is due

    SimOptions m_options;
    QFile m_record;  // --record: what the host sent, byte for byte
    QFile m_stepLog; // --steps: the steps the target took up, one name a line
    qsizetype m_stepsLogged = 0;
    TargetSim m_target;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    bool m_linked = false;
    bool m_dropped = false;
    std::deque<InByte> m_in;
    std::deque<OutByte> m_out;
    Clock::time_point m_lastInDue{};
    Clock::time_point m_lastOutDue{};
    // The chip's receiver, with --pace: when its program takes the next character from the data
    // register (it is busy until the echo before has gone into the transmit data register), and
    // when the register was last emptied.
    Clock::time_point m_programFreeAt{};
    Clock::time_point m_registerFreeAt{};
    bool m_overrunReported = false;
    std::optional<AdapterChip> m_adapter; // --adapter-latency
    EchoStats m_echoes;
    qint64 m_queued = 0;  // bytes queued for the host so far
    qint64 m_written = 0; // bytes written to the host so far
    Clock::time_point m_lastWrite{};
    Clock::time_point m_finishedAt{};
    bool m_finishSeen = false;
};

} // namespace targetsim
