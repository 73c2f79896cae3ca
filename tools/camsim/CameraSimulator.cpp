#include "camsim/CameraSimulator.h"

#include "camera/CameraCommand.h"
#include "camsim/FrameSource.h"
#include "camsim/Impairer.h"
#include "camsim/Packetize.h"
#include "platform/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <random>

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

// A client that stops reading must not make us buffer without end: past this, pictures are skipped.
constexpr size_t kMaxTcpBacklogBytes = 4 * 1024 * 1024;
// Likewise for datagrams queued behind the pacing.
constexpr size_t kMaxQueuedDatagrams = 4096;
// The loop wakes at least this often even when it has nothing to do.
constexpr auto kIdleWake = std::chrono::milliseconds(100);
constexpr auto kUdpStep = std::chrono::milliseconds(1);

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

uint16_t LocalPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool Matches(const std::vector<uint8_t>& datagram, const CameraCommand& command)
{
    return datagram.size() == command.size() && std::equal(command.begin(), command.end(), datagram.begin());
}

// Text such as a multipart HTTP stream puts between its pictures; never an 0xFF byte, so never a marker.
std::vector<uint8_t> JunkText(std::mt19937& random)
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789-:/ \r\n";
    const size_t length = std::uniform_int_distribution<size_t>(1, 96)(random);
    std::vector<uint8_t> junk(length);
    for (auto& byte : junk)
        byte = static_cast<uint8_t>(kAlphabet[random() % (sizeof kAlphabet - 1)]);
    return junk;
}

} // namespace

// Everything the simulator's thread owns: sockets, encoder, impairments and the stream's state.
class CameraSimulator::Loop {
public:
    Loop(const SimOptions& options, Report& report)
        : options_(options), report_(report),
          impairer_({options.lossRate, options.duplicateRate, options.reorderRate, options.truncateRate,
                     options.garbageRate},
                    IsTcp() ? Impairer::Unit::Frame : Impairer::Unit::Datagram, options.seed),
          junkRandom_(options.seed ^ 0x9E3779B9u), frameId_(options.startFrameId),
          sequence_(options.startSequence)
    {
    }

    bool Open(std::string& error, uint16_t& commandPort, uint16_t& tcpPort);
    void Run();
    void RequestStop()
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
    }

private:
    bool IsTcp() const { return options_.family == 5 || options_.family == 9; }
    bool ShouldStream() const { return requested_ && (!IsTcp() || connection_.valid()); }
    Clock::duration Period() const
    {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options_.fps));
    }

    void ReadCommands();
    void HandleCommand(const std::vector<uint8_t>& datagram, Clock::time_point now);
    void AcceptConnection();
    void CheckConnection();
    void DropConnection();
    void FlushTcp();
    void SendDatagrams(Clock::time_point now);
    void ProduceFrame();
    void UpdateStreaming(Clock::time_point now);
    int TimeoutMs(Clock::time_point now) const;

    const SimOptions options_;
    Report& report_;
    FrameSource source_;
    Impairer impairer_;
    std::mt19937 junkRandom_;

    UniqueFd wake_;
    UniqueFd command_;
    UniqueFd listener_;   // TCP families
    UniqueFd connection_; // TCP families: the current client, if any
    UniqueFd sender_;     // UDP families

    int greetStage_ = 0; // 1 after Greet1, 2 after Greet2
    bool greeted_ = false;
    bool requested_ = false; // the client asked for the stream and has not stopped it
    bool streaming_ = false;
    bool keyFrameDue_ = true;
    Clock::time_point lastStreamOn_;
    Clock::time_point nextFrameAt_;
    Clock::time_point nextDatagramsAt_;

    uint64_t framesMade_ = 0;
    uint16_t frameId_;
    uint16_t sequence_;
    std::vector<uint8_t> tcpBacklog_;
    size_t tcpSent_ = 0; // bytes of tcpBacklog_ already sent
    std::deque<std::vector<uint8_t>> datagrams_;
    size_t datagramsPerStep_ = 1;
};

bool CameraSimulator::Loop::Open(std::string& error, uint16_t& commandPort, uint16_t& tcpPort)
{
    if (!source_.Open(options_.family, options_.width, options_.height, options_.fps,
                      options_.startFrameNumber)) {
        error = source_.error();
        return false;
    }
    report_.jpegQuality = options_.family == 5 ? 0 : source_.quality();

    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_.valid()) {
        error = SystemError("eventfd");
        return false;
    }
    command_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address = Loopback(options_.commandPort);
    if (!command_.valid() ||
        ::bind(command_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = SystemError("command port " + std::to_string(options_.commandPort));
        return false;
    }
    commandPort = LocalPort(command_.get());

    if (IsTcp()) {
        listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        const int on = 1;
        if (listener_.valid())
            ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        address = Loopback(options_.tcpPort);
        if (!listener_.valid() ||
            ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_.get(), 4) != 0) {
            error = SystemError("TCP port " + std::to_string(options_.tcpPort));
            return false;
        }
        tcpPort = LocalPort(listener_.get());
    } else {
        sender_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!sender_.valid()) {
            error = SystemError("UDP socket");
            return false;
        }
    }
    return true;
}

void CameraSimulator::Loop::Run()
{
    for (;;) {
        Clock::time_point now = Clock::now();
        std::array<pollfd, 4> fds{};
        size_t count = 0;
        fds[count++] = {wake_.get(), POLLIN, 0};
        fds[count++] = {command_.get(), POLLIN, 0};
        if (listener_.valid())
            fds[count++] = {listener_.get(), POLLIN, 0};
        if (connection_.valid())
            fds[count++] = {connection_.get(),
                            static_cast<short>(POLLIN | (tcpSent_ < tcpBacklog_.size() ? POLLOUT : 0)), 0};
        if (::poll(fds.data(), count, TimeoutMs(now)) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents != 0)
            ReadCommands();
        if (listener_.valid() && fds[2].revents != 0)
            AcceptConnection();
        if (connection_.valid())
            CheckConnection();
        if (connection_.valid())
            FlushTcp();

        now = Clock::now();
        UpdateStreaming(now);
        if (streaming_ && now >= nextFrameAt_) {
            ProduceFrame();
            nextFrameAt_ += Period();
            // Fell behind (a slow encode, a stalled machine): carry on from now rather than burst.
            if (nextFrameAt_ < now)
                nextFrameAt_ = now + Period();
        }
        SendDatagrams(Clock::now());
    }
}

int CameraSimulator::Loop::TimeoutMs(Clock::time_point now) const
{
    Clock::time_point until = now + kIdleWake;
    if (streaming_)
        until = std::min(until, nextFrameAt_);
    if (!datagrams_.empty())
        until = std::min(until, nextDatagramsAt_);
    if (requested_ && !IsTcp())
        until = std::min(until, lastStreamOn_ + std::chrono::milliseconds(options_.keepAliveTimeoutMs));
    if (until <= now)
        return 0;
    // Round up so that the loop does not spin on a deadline less than a millisecond away.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
}

void CameraSimulator::Loop::ReadCommands()
{
    std::vector<uint8_t> datagram(2048);
    for (;;) {
        datagram.resize(2048);
        const ssize_t n = ::recv(command_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT);
        if (n < 0)
            return;
        datagram.resize(static_cast<size_t>(n));
        const Clock::time_point now = Clock::now();
        SeenCommand seen{};
        std::copy_n(datagram.begin(), std::min(datagram.size(), seen.bytes.size()), seen.bytes.begin());
        seen.at = now;
        seen.size = datagram.size();
        {
            std::lock_guard lock(report_.mutex);
            report_.commands.push_back(seen);
        }
        HandleCommand(datagram, now);
    }
}

void CameraSimulator::Loop::HandleCommand(const std::vector<uint8_t>& datagram, Clock::time_point now)
{
    if (Matches(datagram, Greet1)) {
        greetStage_ = 1;
    } else if (Matches(datagram, Greet2)) {
        greetStage_ = greetStage_ >= 1 ? 2 : 0;
    } else if (Matches(datagram, StreamOn)) {
        if (greetStage_ == 2)
            greeted_ = true;
        greetStage_ = 0;
        if (greeted_) {
            requested_ = true;
            lastStreamOn_ = now;
        }
    } else if (Matches(datagram, StreamOff)) {
        requested_ = false;
    }
    // Anything else is not a command this camera knows; it is only recorded.
}

void CameraSimulator::Loop::AcceptConnection()
{
    UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!accepted.valid())
        return;
    // One client at a time: a new connection is a new session, which must ask for the stream again.
    DropConnection();
    connection_ = std::move(accepted);
}

void CameraSimulator::Loop::CheckConnection()
{
    std::array<uint8_t, 4096> scratch;
    // Bounded, so that a client that keeps writing cannot hold the loop here.
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t n = ::recv(connection_.get(), scratch.data(), scratch.size(), MSG_DONTWAIT);
        if (n > 0)
            continue; // the client has nothing to say on this connection; ignore it
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            DropConnection();
        return;
    }
}

void CameraSimulator::Loop::DropConnection()
{
    connection_.reset();
    requested_ = false;
    tcpBacklog_.clear();
    tcpSent_ = 0;
}

void CameraSimulator::Loop::FlushTcp()
{
    while (tcpSent_ < tcpBacklog_.size()) {
        const ssize_t n = ::send(connection_.get(), tcpBacklog_.data() + tcpSent_,
                                 tcpBacklog_.size() - tcpSent_, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            tcpSent_ += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        DropConnection();
        return;
    }
    tcpBacklog_.clear();
    tcpSent_ = 0;
}

void CameraSimulator::Loop::SendDatagrams(Clock::time_point now)
{
    if (datagrams_.empty() || now < nextDatagramsAt_)
        return;
    const sockaddr_in target = Loopback(options_.udpTargetPort);
    for (size_t i = 0; i < datagramsPerStep_ && !datagrams_.empty(); ++i) {
        const std::vector<uint8_t>& datagram = datagrams_.front();
        // A full socket buffer or nobody listening loses the datagram, as it would on the air.
        ::sendto(sender_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&target), sizeof target);
        datagrams_.pop_front();
    }
    nextDatagramsAt_ = now + kUdpStep;
}

void CameraSimulator::Loop::UpdateStreaming(Clock::time_point now)
{
    if (requested_ && !IsTcp() &&
        now - lastStreamOn_ > std::chrono::milliseconds(options_.keepAliveTimeoutMs))
        requested_ = false;
    const bool should = ShouldStream();
    if (should && !streaming_) {
        nextFrameAt_ = now;
        keyFrameDue_ = true;
    } else if (!should && streaming_) {
        impairer_.Reset();
        datagrams_.clear();
    }
    streaming_ = should;
    report_.streaming = should;
}

void CameraSimulator::Loop::ProduceFrame()
{
    if (IsTcp() && tcpBacklog_.size() - tcpSent_ > kMaxTcpBacklogBytes)
        return;
    if (!IsTcp() && datagrams_.size() > kMaxQueuedDatagrams)
        return;
    const uint32_t number = options_.startFrameNumber + static_cast<uint32_t>(framesMade_);
    std::vector<uint8_t> picture = source_.Next(number, keyFrameDue_);
    if (picture.empty())
        return;
    keyFrameDue_ = false;
    ++framesMade_;
    report_.framesSent = framesMade_;
    report_.jpegQuality = options_.family == 5 ? 0 : source_.quality();

    if (IsTcp()) {
        for (std::vector<uint8_t>& unit : impairer_.Pass(std::move(picture))) {
            if (options_.family == 9 && options_.junkBetweenJpegs) {
                const std::vector<uint8_t> junk = JunkText(junkRandom_);
                tcpBacklog_.insert(tcpBacklog_.end(), junk.begin(), junk.end());
            }
            tcpBacklog_.insert(tcpBacklog_.end(), unit.begin(), unit.end());
        }
        FlushTcp();
        return;
    }
    std::vector<std::vector<uint8_t>> pieces = options_.family == 8
                                                   ? PacketizeFamily8(picture, frameId_++)
                                                   : PacketizeFamily6(picture, sequence_, number);
    for (std::vector<uint8_t>& piece : pieces)
        for (std::vector<uint8_t>& datagram : impairer_.Pass(std::move(piece)))
            datagrams_.push_back(std::move(datagram));
    // Spread a picture's datagrams over about half a frame period, as a camera's radio would, so that a
    // small receive buffer is not swamped by one burst.
    const auto halfPeriodMs =
        std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::milliseconds>(Period()).count() / 2);
    datagramsPerStep_ = std::max<size_t>(1, (datagrams_.size() + static_cast<size_t>(halfPeriodMs) - 1) /
                                                static_cast<size_t>(halfPeriodMs));
}

CameraSimulator::CameraSimulator(SimOptions options) : options_(options) {}

CameraSimulator::~CameraSimulator()
{
    Stop();
}

namespace {

std::string CheckOptions(const SimOptions& o)
{
    if (o.family != 5 && o.family != 6 && o.family != 8 && o.family != 9)
        return "family " + std::to_string(o.family) + " is not simulated (5, 6, 8 or 9)";
    if (o.width < 160 || o.height < 120 || o.width > 8192 || o.height > 8192 || o.width % 2 != 0 ||
        o.height % 2 != 0)
        return "picture size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
               " must be even and between 160x120 and 8192x8192";
    if (!(o.fps > 0 && o.fps <= 1000))
        return "frame rate must be above 0 and at most 1000";
    for (const double rate : {o.lossRate, o.duplicateRate, o.reorderRate, o.truncateRate, o.garbageRate})
        if (!(rate >= 0 && rate <= 1))
            return "impairment rates must lie between 0 and 1";
    if (o.keepAliveTimeoutMs <= 0)
        return "keep-alive time-out must be positive";
    return {};
}

} // namespace

bool CameraSimulator::Start()
{
    if (thread_.joinable()) {
        std::lock_guard lock(report_.mutex);
        report_.error = "already started";
        return false;
    }
    std::string error = CheckOptions(options_);
    auto loop = std::make_unique<Loop>(options_, report_);
    uint16_t commandPort = 0;
    uint16_t tcpPort = 0;
    if (error.empty() && loop->Open(error, commandPort, tcpPort)) {
        commandPort_ = commandPort;
        tcpPort_ = tcpPort;
        {
            std::lock_guard lock(report_.mutex);
            report_.error.clear();
        }
        loop_ = std::move(loop);
        thread_ = std::thread([this] { loop_->Run(); });
        return true;
    }
    std::lock_guard lock(report_.mutex);
    report_.error = error;
    return false;
}

void CameraSimulator::Stop()
{
    if (thread_.joinable()) {
        loop_->RequestStop();
        thread_.join();
    }
    loop_.reset();
    report_.streaming = false;
}

std::vector<SeenCommand> CameraSimulator::commands() const
{
    std::lock_guard lock(report_.mutex);
    return report_.commands;
}

std::string CameraSimulator::error() const
{
    std::lock_guard lock(report_.mutex);
    return report_.error;
}

} // namespace camsim
