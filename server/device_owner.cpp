#include "device_owner.h"

#include "commands.h"
#include "ctl_output.h"
#include "px418usb.h"

void DeviceLink::Tick()
{
    if (online_) {
        try {
            std::int32_t mode = 0;
            CheckedGetMode(&mode);
        } catch (const EHardwareException &e) {
            Close();
            log_("generator lost: " + PrintableText(e.Message()) + "; searching again");
            searchLogged_ = true;
        }
        return;
    }
    if (!searchLogged_) {
        log_("searching for a generator");
        searchLogged_ = true;
    }
    if (!PX418_OpenDevice()) {
        return;
    }
    try {
        const QString identity = CheckedGetInfo();
        online_ = true;
        log_("generator found: " + PrintableText(identity));
    } catch (const EHardwareException &e) {
        // Found but gone again at once: the next tick searches anew.
        PX418_CloseDevice();
    }
}

void DeviceLink::Close()
{
    if (online_) {
        PX418_CloseDevice();
        online_ = false;
    }
}

DeviceOwner::DeviceOwner(LogFn log, std::chrono::milliseconds tick)
    : link_(std::move(log)), tick_(tick), thread_([this] { Run(); })
{}

DeviceOwner::~DeviceOwner()
{
    Stop();
}

void DeviceOwner::Post(Job job)
{
    {
        const std::lock_guard lock(mutex_);
        if (stop_) {
            return;
        }
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void DeviceOwner::Stop()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        jobs_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void DeviceOwner::Run()
{
    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now();
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, nextTick, [this] { return stop_ || !jobs_.empty(); });
            if (stop_) {
                break;
            }
            // The tick comes first when it is due, so that a steady stream of
            // jobs never keeps a lost generator from being noticed.
            if (Clock::now() < nextTick && !jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
        }
        if (job) {
            if (job(link_.Online())) {
                nextTick = Clock::now();
            }
            continue;
        }
        link_.Tick();
        nextTick = Clock::now() + tick_;
    }
    link_.Close();
}
