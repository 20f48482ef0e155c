// The receive pipeline: sorts each chunk from a base station by its first bytes, and a 1 ms
// timer stage that cuts request frames out of the queued chunks, one action per tick.
#pragma once

#include "baselink/xyTypeConv.h"

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class WorkLog;

// One received chunk waiting for the assembler.
struct TBuffPack {
    std::int32_t Length = 0;
    HexCodec::TByteArr Bytes;
    std::chrono::system_clock::time_point ArrivalTime;
};

// A good request frame as handed to the request decoder.
struct RequestFrame {
    int Operation = 0;
    std::uint8_t BaseByte = 0;
    std::uint8_t Handheld = 0;
    std::string TimeHex;
    std::string Data;
};

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
    ReceivePipeline(WorkLog& log, bool debugLogging, PipelineHandlers handlers);

    // The data-received handler of the four ports; slot is the port's Tag.
    void Comm1ReceiveData(int slot, const char* buffer, int length);
    void EnqueueChunk(const char* bytes, int length, std::chrono::system_clock::time_point time);

    // Starts the 1 ms processing timer. It stops itself while no tick can make progress and
    // starts again when a chunk is queued.
    void Start();
    void tim_DataProcTimer();

    // State, for the controller and tests.
    bool Busy() const { return busy_; }
    std::int32_t ExpectedLength() const { return expectedLength_; }
    const HexCodec::TByteArr& AssemblyBuffer() const { return assemblyBuffer_; }
    std::size_t QueuedChunks() const;
    bool TimerActive() const { return tim_DataProc.isActive(); }

private:
    bool TakeOneChunk();
    std::size_t ExamineBuffer();
    void DropFront(std::size_t count);
    bool CanProgress() const;

    WorkLog& log_;
    bool debugLogging_;
    PipelineHandlers handlers_;

    mutable std::mutex queueLock_;
    std::deque<std::unique_ptr<TBuffPack>> chunkQueue_;
    HexCodec::TByteArr assemblyBuffer_;
    std::int32_t expectedLength_ = 1;
    bool busy_ = false;
    bool started_ = false;
    QTimer tim_DataProc;
};
