// The generator as the server holds it. DeviceLink finds it the way the
// window does (a search while there is none, a poll while it is open, closed
// when a poll fails, searched for again) and says so in the log.
// DeviceOwner gives the link a thread of its own and a queue of jobs: every
// device call of the server is made there, one job at a time, so the
// network side never waits on the device and no job is interleaved with
// another.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

using LogFn = std::function<void(const std::string &line)>;

class DeviceLink {
public:
    explicit DeviceLink(LogFn log) : log_(std::move(log)) {}
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;
    ~DeviceLink() { Close(); }

    // Off line: one search (PX418_OpenDevice), and on success the identity
    // read for the log. On line: one poll of the mode, which only proves that
    // the generator still answers; a failure closes the device.
    void Tick();
    bool Online() const { return online_; }
    void Close();

private:
    LogFn log_;
    bool online_ = false;
    bool searchLogged_ = false;
};

class DeviceOwner {
public:
    // A job runs on the device thread with whether a generator is open, and
    // returns whether a device call failed, so that the generator is polled
    // at once rather than at the next tick.
    using Job = std::function<bool(bool online)>;

    static constexpr std::chrono::milliseconds kDefaultTick{100};

    explicit DeviceOwner(LogFn log, std::chrono::milliseconds tick = kDefaultTick);
    DeviceOwner(const DeviceOwner &) = delete;
    DeviceOwner &operator=(const DeviceOwner &) = delete;
    ~DeviceOwner();

    // Queues a job; jobs run in the order they were posted. Any thread.
    void Post(Job job);
    // Ends the thread after the job in progress; jobs still queued are
    // dropped, and the device is closed.
    void Stop();

private:
    void Run();

    DeviceLink link_;
    std::chrono::milliseconds tick_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    std::thread thread_;
};
