#include "tests/linux/usb/usbip_session.h"

#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codec/usb_hid_descriptors.h"

namespace rig {
namespace {

constexpr std::uint8_t kInBit = 0x80;
constexpr std::uint8_t kNumberBits = 0x0F;
constexpr std::int32_t kStall = -EPIPE;
constexpr std::int32_t kUnlinkedWhilePending = -ECONNRESET;
constexpr std::int32_t kAlreadyCompleted = 0;
// Replies the device keeps for its interrupt IN endpoint while the host asks for none; a real
// controller keeps one, this one a few more so that a slow host loses nothing.
constexpr std::size_t kKeptReplies = 16;

bool ReadExactly(int socket, std::uint8_t* bytes, std::size_t length, std::string& error)
{
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = recv(socket, bytes + got, length - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n == 0 ? "the host ended the connection" : std::string("recv: ") + std::strerror(errno);
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int socket, const std::vector<std::uint8_t>& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void SleepUntil(FramePace::Clock::time_point when)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec until{};
    until.tv_sec = static_cast<time_t>(ns / 1000000000);
    until.tv_nsec = static_cast<long>(ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace

UsbipSession::UsbipSession(int socket, UsbController& controller)
    : socket_(socket), controller_(controller), pace_(Clock::now())
{
}

void UsbipSession::Receive(std::string& error)
{
    for (;;) {
        usbip::Header header{};
        usbip::Command command;
        if (!ReadExactly(socket_, header.data(), header.size(), error)) break;
        if (!usbip::ParseCommand(header, command, error)) break;
        if (command.command == usbip::kCmdUnlink) {
            Unlink(command);
            continue;
        }
        if (!ReadSubmission(command, error)) break;
    }
    // A command this device cannot serve ends the connection, which unplugs it.
    shutdown(socket_, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    wake_.notify_all();
}

bool UsbipSession::ReadSubmission(const usbip::Command& command, std::string& error)
{
    Submission submission;
    submission.seqnum = command.seqnum;
    submission.endpoint = static_cast<std::uint8_t>(command.endpoint | (command.in ? kInBit : 0));
    submission.length = command.length;
    submission.setup = command.setup;
    if (!command.in && command.length > 0) {
        submission.out.resize(command.length);
        if (!ReadExactly(socket_, submission.out.data(), submission.out.size(), error)) return false;
    }
    submission.arrived = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    live_.insert(submission.seqnum);
    queue_.push_back(std::move(submission));
    wake_.notify_all();
    return true;
}

void UsbipSession::Unlink(const usbip::Command& command)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool pending = live_.erase(command.unlinkSeqnum) > 0;
    Send(usbip::ReturnUnlink(command.seqnum, pending ? kUnlinkedWhilePending : kAlreadyCompleted), {});
}

void UsbipSession::Serve(const std::function<void()>& unplug)
{
    std::unique_lock<std::mutex> lock(mutex_);
    bool unplugged = false;
    while (!ended_) {
        if (queue_.empty()) {
            wake_.wait(lock, [this] { return ended_ || !queue_.empty(); });
            continue;
        }
        Submission submission = std::move(queue_.front());
        queue_.pop_front();
        if (live_.count(submission.seqnum) == 0 || unplugged) continue;
        if (submission.endpoint == kInterruptInEndpoint) {
            // Reads unlinked while they waited (usbhid's, each time its node is closed) go.
            std::erase_if(waitingReads_, [this](const Submission& read) { return live_.count(read.seqnum) == 0; });
            waitingReads_.push_back(std::move(submission));
            AnswerWaitingReads(lock);
            continue;
        }
        lock.unlock();
        const DeviceAnswer answer = Execute(submission);
        const Clock::time_point ready = Clock::now();
        lock.lock();
        const bool removed = controller_.Removed();
        // A report the device took before it went completes; one it never saw does not.
        if (!removed || !answer.stalled) {
            const Clock::time_point due = pace_.Complete(submission.endpoint, ready);
            CompleteAt(lock, submission, due, answer);
            if (!answer.reply.empty() && replies_.size() < kKeptReplies) {
                replies_.push_back(Reply{answer.reply, due});
                AnswerWaitingReads(lock);
            }
        }
        if (removed) {
            unplugged = true;
            lock.unlock();
            unplug();
            lock.lock();
        }
    }
}

DeviceAnswer UsbipSession::Execute(const Submission& submission)
{
    if ((submission.endpoint & kNumberBits) == 0) {
        DeviceAnswer answer = controller_.Control(submission.setup, submission.out);
        if (answer.data.size() > submission.length) answer.data.resize(submission.length);
        return answer;
    }
    if (submission.endpoint == kInterruptOutEndpoint && controller_.HasInterruptOut())
        return controller_.InterruptOut(submission.out);
    DeviceAnswer noSuchEndpoint;
    noSuchEndpoint.stalled = true;
    return noSuchEndpoint;
}

void UsbipSession::AnswerWaitingReads(std::unique_lock<std::mutex>& lock)
{
    while (!waitingReads_.empty() && !replies_.empty()) {
        const Submission read = std::move(waitingReads_.front());
        waitingReads_.pop_front();
        if (live_.count(read.seqnum) == 0) continue;
        DeviceAnswer answer;
        answer.data = replies_.front().report;
        if (answer.data.size() > read.length) answer.data.resize(read.length);
        const Clock::time_point due =
            pace_.Complete(kInterruptInEndpoint, std::max(read.arrived, replies_.front().from));
        // A read unlinked while it waited for its frame took nothing: the reply waits for the next.
        if (CompleteAt(lock, read, due, answer)) replies_.pop_front();
    }
}

bool UsbipSession::CompleteAt(std::unique_lock<std::mutex>& lock, const Submission& submission,
                              Clock::time_point due, const DeviceAnswer& answer)
{
    lock.unlock();
    SleepUntil(due);
    lock.lock();
    if (live_.erase(submission.seqnum) == 0) return false;
    const bool in = (submission.endpoint & kInBit) != 0;
    const Bytes& data = in && !answer.stalled ? answer.data : Bytes{};
    const std::size_t actual = answer.stalled ? 0 : in ? answer.data.size() : submission.out.size();
    Send(usbip::ReturnSubmit(submission.seqnum, answer.stalled ? kStall : 0, static_cast<std::uint32_t>(actual)),
         data);
    return true;
}

bool UsbipSession::Send(const usbip::Header& header, const Bytes& data)
{
    Bytes message(header.begin(), header.end());
    message.insert(message.end(), data.begin(), data.end());
    return WriteAll(socket_, message);
}

}  // namespace rig
