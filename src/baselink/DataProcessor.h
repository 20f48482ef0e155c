// The receive pipeline: sorts each chunk from a base station by its first bytes and cuts the
// request chunks into frames, each port on its own, and a 1 ms timer stage that hands the good
// frames to the request decoder, one per tick, and gives up the incomplete frame of a port
// whose continuation can no longer come. A frame that arrives while none waits is handed on at
// once, without waiting for the next tick.
#pragma once

#include "baselink/BaseFrame.h"
#include "baselink/FrameAssembler.h"

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

class WorkLog;

using RequestFrame = BaseFrame::RequestFrame;

struct PipelineHandlers {
    std::function<void(const std::string& answer, int slot)> BaseAnswer;
    std::function<void(const std::string& chunk)> BroadcastNotice;
    std::function<void(const std::string& chunk)> ReadyNotice;
    std::function<void(const RequestFrame& frame)> HandleRequest;
    // An error that escaped HandleRequest: shown to the operator; the pipeline goes on.
    std::function<void(const std::string& message)> UnhandledError;
};

class ReceivePipeline {
public:
    using Clock = FrameAssembler::Clock;

    ReceivePipeline(WorkLog& log, bool debugLogging, PipelineHandlers handlers,
                    AssemblyTiming timing = {},
                    std::function<Clock::time_point()> now = Clock::now);

    // The data-received handler of the four ports; slot is the port's Tag. An error in handling
    // the chunk is written to the work log and the chunk is dropped.
    void Comm1ReceiveData(int slot, const char* buffer, int length);
    // Adds a chunk of request traffic to its port's frames; once started, an idle pipeline hands
    // the first of them on at once.
    void EnqueueChunk(int slot, const std::string& bytes, Clock::time_point time);

    // Starts the processing timer. It runs every 1 ms while frames wait for the decoder, wakes
    // for the next port to give up an incomplete frame, and stops when neither is left.
    void Start();
    void tim_DataProcTimer();

    // State, for the controller and tests.
    bool Busy() const { return busy_; }
    std::size_t ReadyFrames() const { return readyFrames_.size(); }
    // The bytes of an incomplete frame held for the port's next chunk.
    std::size_t HeldBytes(int slot) const;
    bool TimerActive() const { return tim_DataProc.isActive(); }

private:
    void Dispatch(int slot, const std::string& chunk);
    FrameAssembler& Port(int slot);
    void AddFrames(std::vector<RequestFrame> frames);
    void HandOver(const RequestFrame& frame);
    void Schedule();

    WorkLog& log_;
    bool debugLogging_;
    PipelineHandlers handlers_;
    AssemblyTiming timing_;
    std::function<Clock::time_point()> now_;

    std::map<int, FrameAssembler> ports_;
    std::deque<RequestFrame> readyFrames_;
    bool busy_ = false;
    bool started_ = false;
    QTimer tim_DataProc;
};
