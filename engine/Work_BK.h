// CWork_BK: the update engine. One static object per process (reach it with CWork_BK::Instance()).
//
// It owns the serial port, the update images (one per row of the image table, ImageTable.h), the
// command queue with its sender thread, the job
// worker, the device's settings blocks and the step record, and reports to one notification window
// through the engine messages (NotifyWindow.h), each sent synchronously.
//
// Threads: the front end's thread calls SetNotifyWindow, StartEngine, StartUpdateRun, the settings
// copies and StopEngine; the connect thread runs ConnectAndLoad; the serial reader thread runs the
// receive path and the answer dispatch; the sender thread writes frames; the job worker queues the
// packets of a step. The step record, flags and settings blocks are written only by the thread that
// drives the current step; they are atomics or copied under a lock so reads from other threads are
// safe. Operations return 1 on success and 0 on failure and never throw.
//
// The definitions are split by job: Work_BK.cpp (construction, options), Work_BK_Notify.cpp (engine
// messages), Work_BK_Connect.cpp (image loads, port scan, stop), Work_BK_Run.cpp (run, steps, jobs,
// failure), Work_BK_Record.cpp (record accessors), Work_BK_Queue.cpp (command queue callbacks),
// Work_BK_Receive.cpp (receive path), Work_BK_LineLoss.cpp (a line that went away).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/DeviceProbe.h"
#include "engine/ImageReader.h"
#include "engine/ScanReport.h"
#include "protocol/IspCodes.h"
#include "engine/NotifyWindow.h"
#include "engine/AnswerTimeMeter.h"
#include "engine/TurnaroundMeter.h"
#include "protocol/Packet_ISP.h"
#include "base/RawString.h"
#include "engine/UpdateStep.h"
#include "files/ImageLoad.h"
#include "files/Packet_Hex.h"
#include "transport/JobWorker.h"
#include "transport/Serial.h"
#include "transport/SerialObject.h"
#include "transport/SerialOpenHook.h"
#include "transport/TaskManager.h"

using SettingsBlock = std::array<uint8_t, SETTINGS_BLOCK_SIZE>;

class CDealMsg;

// Engine settings a front end or a test may change before StartEngine.
struct EngineOptions {
    uint32_t firmwarePauseMs = 10000;   // pause after the device confirmed the firmware end
    int noAnswerSlices = 3;             // 5 s wait slices without an answer before a run fails
    uint32_t waitSliceMs = 5000;        // the sender's wait slice
    // Keep looking while no device answers, and look again after a lost line. Off: one scan, as a
    // script that wants a quick "no device" expects.
    bool keepScanning = false;
    uint32_t rescanMs = 2000;    // how often the port list is looked at for ports not seen before
    // How often a port that opened but did not answer is probed again; 0: only when it has gone and
    // come back, or when SearchAgain asks. A port that could not be opened (busy, no permission) is
    // looked at again every kRetryUnopenedMs whatever this says: that touches nothing.
    uint32_t reprobeMs = 10000;
    // After an end command the device never answers, the line must be quiet this long before the
    // image counts as ended, so that a surplus answer to its packets is still seen in its step.
    uint32_t endSettleMs = 200;
};


class CWork_BK : public CSerialObject,
                 public CTaskManager<CPacket_ISP, CWork_BK>,
                 public CSerialOpenHook {
public:
    // An image's end command counts as sent once it has left the port; a line that holds it longer
    // than this is failing anyway.
    static constexpr uint32_t kEndCommandDrainMs = 1000;

    CWork_BK();
    ~CWork_BK() override;

    // Replaces the window the engine reports to. Returns only when no message is being delivered to
    // the old one any more, so the caller may destroy it afterwards; a window whose Send blocks must
    // be made to return first (a closed window drops its messages).
    void SetNotifyWindow(NotifyHandle window);
    void SetOptions(const EngineOptions& options);
    EngineOptions Options() const;

    // Stores the values, starts the connect thread and the job worker. 1 on success. The connect thread
    // is kept and joined: by the next StartEngine, by StopEngine and by the destructor.
    int StartEngine(uint32_t portLimit, uint32_t baudRate, const std::wstring& toolFolder);
    // The connect thread's body: the image loads, then the port scan (so "device ready" never
    // comes before the images exist). Returns 0. With keepScanning it scans again every rescanMs
    // until a device answers, and again after that device's line is lost; it ends when the engine
    // stops (a wait on an event, never a sleep that would hold StopEngine up).
    int ConnectAndLoad();
    // Closes the port, empties the images, stops the sender and empties the queue.
    void StopEngine();
    // While no device is connected: probe every port again now, those that did not answer too (the
    // user asked). Any thread; the search runs on the connect thread, which says NoDevice again when
    // it finds nothing.
    void SearchAgain();
    // Sets the run-active flag, reads every update file again from the tool folder and starts the first
    // step that has work (or ends the run at once). What the run sends is what the files held now.
    void StartUpdateRun();
    void SelectStep(int step);

    // Packets of the image of `step`; 0 for a step that is no image. The named counts are this.
    int PacketCount(int step) const;
    int ProjectPacketCount() const { return PacketCount(StepProject); }
    int EDogPacketCount() const { return PacketCount(StepEDog); }
    int MusicPacketCount() const { return PacketCount(StepMusic); }
    int PicPacketCount() const { return PacketCount(StepPic); }
    int RadarPacketCount() const { return PacketCount(StepRadar); }

    // Two settings blocks are kept apart: the device's block as last read from it (or last written to
    // it), and the edited block that a run writes at its end. A settings answer that arrives during a
    // run updates the first and never the block waiting to be written.
    // GetSettingsBlock: the device's block. SetSettingsBlock: the front end hands over its edited block
    // (together with SetSettingsPending(1)); it is what the next run writes.
    void GetSettingsBlock(uint8_t* dst) const;
    void GetSettingsInfoBlock(uint8_t* dst) const;
    void SetSettingsBlock(const uint8_t* src);
    void SetSettingsInfoBlock(const uint8_t* src);
    void SetSettingsPending(int flag);
    // The block a settings write sends (the protocol driver's WriteSettings).
    void GetSettingsToWrite(uint8_t* dst) const;
    // The device's block from a 'G' settings answer (reader thread); from now on it is known.
    void StoreDeviceSettings(const uint8_t* src);
    // The device answered the settings write: from now on it holds the block that was written.
    void SettingsWritten();
    int SettingsPending() const { return settingsPending_.load(); }
    int RunActive() const { return runActive_.load(); }

    void NotifyReady();
    // wParam 0: a settings block was stored; 1: the answer was refused (wrong size) and nothing
    // changed, so a front end must not take the device's block from it.
    void NotifySettingsRead(int refused = 0);
    void NotifyStepBegin();
    void NotifyPacketSent();
    void NotifyStepEnd(int result);
    void NotifyConnect(ConnectState state);
    void NotifyWait(uint32_t leftMs, uint32_t totalMs);
    // The device's answers to the first packets of a run have been timed (reader thread, once a run):
    // traced, and when they are slow, WM_ENGINE_SLOW_ANSWERS tells the window.
    void NotifyAnswerTimes(const AnswerTimeVerdict& verdict);

    // Asks the connected device for its information again (versions, then its settings): a front end
    // calls it when a run has ended, so that it shows what the device now holds. The question goes
    // out once the line has been quiet for kRefreshQuietMs (the job worker waits for that), and not
    // at all when a run starts, the engine stops or the line goes first; an unanswered one is dropped
    // and changes nothing. 0 when no device is connected.
    int RefreshDeviceInfo();
    static constexpr uint32_t kRefreshQuietMs = 1000;

    // Bytes the engine has written to the port and received from it since it was created; they only
    // grow. A front end takes them at a step's begin and end to show what the step put on the line.
    // Any thread.
    uint64_t LineBytesSent() const { return lineBytesSent_.load(std::memory_order_relaxed); }
    uint64_t LineBytesReceived() const { return lineBytesReceived_.load(std::memory_order_relaxed); }
    // The tool's own time from an answer read to the next frame written, over the current run (since
    // its start). Any thread.
    TurnaroundStats LineTurnaround() const { return turnaround_.Snapshot(); }

    // Step record.
    int CurrentStep() const { return currentStep_.load(); }
    int StepTotal() const { return stepTotal_.load(); }
    int StepSent() const { return stepSent_.load(); }
    int StepResult() const { return stepResult_.load(); }

    // Device versions from the device-information answer ("%04d", "%04d", "%04x").
    std::wstring DeviceFirmwareVersion() const;
    std::wstring DeviceDataVersion() const;
    std::wstring DeviceRadarVersion() const;
    void SetDeviceVersions(const std::wstring& firmware, const std::wstring& data, const std::wstring& radar);

    ConnectState GetConnectState() const { return connectState_.load(); }
    // The ports the last scan tried, with the reason each failed ("" for the one that answered).
    ScanReport LastScanReport() const;
    std::wstring ToolFolder() const;
    // The user chose another folder of update files (ending in a separator): the next run reads its
    // files from there. Not while a run is going.
    void SetToolFolder(const std::wstring& folder);

    // The image of `step`, for the transfer steps and for front ends that show what will be sent;
    // null for a step that is no image.
    const CImageReader* Image(int step) const;
    // The five images by name, as their readers.
    const CFile_Project& Project() const { return *Image(StepProject)->Hex(); }
    const CFile_EDogMusicPic& EDog() const { return *Image(StepEDog)->Data(); }
    const CFile_EDogMusicPic& Music() const { return *Image(StepMusic)->Data(); }
    const CFile_EDogMusicPic& Pic() const { return *Image(StepPic)->Data(); }
    const CFile_Radar& Radar() const { return *Image(StepRadar)->Radar(); }

    // Upper half of the firmware load address while the firmware packets are built.
    int UpperAddress() const { return upperAddress_.load(); }
    void SetUpperAddress(int value) { upperAddress_.store(value); }

    // The step whose commands wait in the queue while a run is going, else StepNone.
    int QueuedRunStep() const;
    // The step a lost line or a device notice cuts short: the one whose commands are queued, else the
    // one going (the queue is empty for a moment while the job worker queues an image's packets, and
    // in the firmware pause); StepNone when no run is in progress.
    int StepCutShort() const;
    // Ends the run in progress with a failure: `step`, then step 7, both with result 1. Later answers
    // of the failed run start nothing. `reason` (Russian, for the user) is kept until the next run
    // starts and can be read with FailureReason() while the step-end messages are delivered.
    void FailRun(int step, const std::wstring& reason);
    // Why the last run failed; empty while no run has failed since StartUpdateRun.
    std::wstring FailureReason() const;

    // What the run did with each image it started (reader, sender and job worker threads; atomics).
    // The packets of `step` the device accepted in this run.
    void CountAcceptedPacket(int step);
    int AcceptedPackets(int step) const;
    // The packets a run sends of the image of `step` (the firmware's data records); 0 for a step
    // that is no image. Progress totals and the check of whole images use it.
    int PacketsToSend(int step) const;
    // The image's end command closed it: the device confirmed the firmware end, or a data image's
    // end command left the port.
    void MarkImageClosed(int step);
    bool ImageClosed(int step) const;
    // The image whose ready answer came last in this run: its packets are being sent, or it has just
    // ended and a surplus answer to them still counts against it. StepNone before the first.
    int SendingStep() const { return sendingStep_.load(); }
    void SetSendingStep(int step) { sendingStep_.store(step); }
    // Before a run reports success: every image the run started was accepted packet by packet and
    // closed by its end command. Otherwise the run fails naming the image, and 0 is returned.
    int CheckImagesWhole();
    // An end command the device never answers has left the port (sender thread): the step ends once
    // the line has been quiet for endSettleMs, on the job worker, then the next image starts.
    void ImageEndWritten(uint8_t endCmd);
    // The status byte the device confirmed the firmware end with in this run; -1 while none came.
    int FirmwareEndStatus() const { return firmwareEndStatus_.load(); }
    void SetFirmwareEndStatus(int status) { firmwareEndStatus_.store(status); }
    // A settings answer of the right size has given the device's own block since the port opened.
    bool DeviceSettingsKnown() const { return deviceSettingsKnown_.load(); }
    // The job kEndSettleJob (UpdateStep.h) settles after an unanswered end command; the step is
    // settlingStep_.

    // How loading the image of `step` went; Absent for a step that is no image.
    ImageLoadStatus ImageStatus(int step) const;

    // The job worker (the image steps).
    void PostJob(int step);
    // Which steps had their packet job posted in the current run: a device that repeats its ready
    // answer must not get the image twice. MarkJobPosted records image step `step` and returns 1 the first
    // time in a run, 0 when its job was already posted. Called on the reader thread. Atomic, no lock.
    int MarkJobPosted(int step);
    bool JobPosted(int step) const;
    // Forgets the posted jobs and the failure of the last run; StartUpdateRun begins with it.
    void ResetRunRecord();
    // 1 from FailRun until the next run starts. While it is 1 the frames of a run (starts, packets,
    // ends, the settings write) are not queued: a job still queueing its packets when the run failed
    // must not send them.
    int RunFailed() const { return runFailed_.load(); }

    // The job kFirmwarePauseJob (UpdateStep.h) is the pause after the firmware end: the device
    // confirmed the firmware and restarts; the job worker waits, then starts the next image. Off the
    // reader thread, so that a line lost during the pause is seen at once. kRefreshJob asks for the
    // versions after a run (RefreshDeviceInfo).
    // The pause after the firmware end, reported with NotifyWait: 1 when it ran its full length, 0
    // when the engine stopped or the run failed meanwhile.
    int FirmwarePause();
    // A line lost during the pause is the device restarting: after the pause it is looked for again
    // until this much longer has passed (Work_BK_Restart.cpp).
    static constexpr uint32_t kRestartGraceMs = 15000;
    // Ends a firmware pause in progress (engine stop, failed run).
    void EndPause();

    // The port, for the receive path's owner and tests.
    CSerial& Port() { return serial_; }

    // Command queue operations as the engine forwards them.
    int AddTask(const CPacket_ISP& task) override;
    int OnAnswer(int code) override;

    // CSerialObject: the receive path.
    int OnReceive(const uint8_t* data, uint32_t length) override;
    // CSerialObject: the line went away (reader or sender thread). Sets ConnectState::LineLost, ends a
    // run in progress at once with FailRun and the reason "связь с устройством потеряна: <OS reason>",
    // and has the port closed on a thread of its own (Close joins the reader, which may be the caller).
    void OnLineError(const std::string& reason) override;
    // CSerialObject: a write could not finish in its bound. As a lost line, with the reason
    // "устройство не принимает данные (<how far the frame got>)".
    void OnWriteStalled(uint32_t written, uint32_t length, uint32_t waitedMs) override;
    // Why the line was lost (Russian, ending with the OS reason); empty until a loss since the last
    // StartEngine.
    std::wstring LineLostReason() const;

    // CSerialOpenHook.
    void RestartCommandSender() override;
    void RequestDeviceInfo(uint8_t port) override;

protected:
    // CTaskManager's operations supplied by the engine.
    int WriteFrame(const uint8_t* bytes, int length) override;
    int SendTask(const CPacket_ISP& task, int attemptsBefore) override;
    bool IsNoWaitTask(const CPacket_ISP& task) override;
    bool IsWrittenOnAnswer(const CPacket_ISP& task) override;
    void OnNoAnswer(const CPacket_ISP& head) override;

private:
    // Delivers one message to the window, if there is one; false when there is none.
    bool SendToWindow(uint32_t message, NotifyWParam wParam, NotifyLParam lParam);
    bool HasNotifyWindow();
    void RunJob(int step);
    // Stops everything the connect thread and the run use; called on any thread but the reader's.
    void StopTransport();
    // Waits for a previous connect thread (asking its scan to end at the next port).
    void JoinConnectThread();
    // Closes a failed port on the line closer thread; waits for that thread.
    void ScheduleLineClose();
    void JoinLineCloser();
    // The refresh job: waits for a quiet line, then queues the device-information request.
    void RefreshWhenQuiet();
    static constexpr uint32_t kRefreshLookMs = 50;
    // The line is gone or useless for the reason `text` (Russian, for the user): see OnLineError.
    void LineGone(const std::wstring& text);
    // The restart after the firmware (Work_BK_Restart.cpp). TakeLineLossAsRestart: true when a lost
    // line is the device restarting in the pause (then nothing fails). ContinueAfterFirmware (job
    // worker, after the pause): the next image, once a restarted device is back; the run fails when
    // it is not back by `deadline`. All give up when the engine stops or the run fails (`generation`
    // is the pause's).
    bool TakeLineLossAsRestart(const std::wstring& text);
    void ContinueAfterFirmware(CDealMsg& driver, int generation, std::chrono::steady_clock::time_point deadline);
    bool ReconnectAfterRestart(int generation, std::chrono::steady_clock::time_point deadline);
    struct PortSeen;
    bool OpenAfterRestart(int generation, std::vector<std::pair<std::string, PortSeen>>& seen);
    bool RestartWaitOver(int generation) const;
    // The step that follows the firmware in this run: an image with packets, the settings write, or
    // StepFinished.
    int StepAfterFirmware() const;
    void LoadImages();
    // One look at the ports (ConnectAndLoad). `seen` keeps, per port path, how its last open went and
    // when it was probed; ports not seen before (or missing last time) are tried, the others only when
    // reprobeMs has passed. True when a device answered.
    struct PortSeen {
        CSerial::OpenError error = CSerial::OpenError::Missing;
        uint32_t probedAt = 0;
    };
    bool ScanPorts(std::vector<std::pair<std::string, PortSeen>>& seen, uint32_t reprobeMs);
    static constexpr uint32_t kRetryUnopenedMs = 10000;
    std::atomic<bool> searchAgain_{false};
    // Waits up to `ms` (no limit when 0) for the engine to stop or, when `untilLost`, for the line to be
    // lost. True when the engine stops.
    bool ConnectWait(uint32_t ms, bool untilLost);
    void WakeConnectThread();

    std::mutex notifyMutex_;  // guards notifyWindow_ and notifyInFlight_
    std::condition_variable notifyIdle_;
    NotifyHandle notifyWindow_ = nullptr;
    int notifyInFlight_ = 0;
    // The handshake the port does at every open; before serial_, which keeps a pointer to it.
    CDeviceProbe probe_;
    CSerial serial_;
    CRawString receiveBuffer_;
    // One per row of the image table, in its order; built by the constructor and never resized.
    std::vector<CImageReader> images_;
    std::atomic<int> upperAddress_{0};
    std::mutex imagesMutex_;  // held while a job queues an image's packets, and while images load or empty

    mutable std::mutex settingsMutex_;
    SettingsBlock settingsBlock_{};      // the device's, as last read or written
    SettingsBlock settingsToWrite_{};    // the front end's edited block
    SettingsBlock settingsInfoBlock_{};
    std::atomic<int> settingsPending_{0};

    std::atomic<int> currentStep_{0};
    std::atomic<int> stepTotal_{0};
    std::atomic<int> stepSent_{0};
    std::atomic<int> stepResult_{0};
    std::atomic<int> runActive_{0};
    std::atomic<uint32_t> postedJobs_{0};  // bit `step`: that step's job was posted in this run
    std::atomic<int> runFailed_{0};
    std::atomic<uint64_t> lineBytesSent_{0};
    std::atomic<uint64_t> lineBytesReceived_{0};
    CTurnaroundMeter turnaround_;
    CAnswerTimeMeter answerTime_;
    std::atomic<bool> dropTraced_{false};  // one trace line per failed run for the frames not queued
    // Run image record: bit `step` of closedImages_, acceptedPackets_[step].
    std::array<std::atomic<int>, kStepLimit> acceptedPackets_{};
    std::atomic<uint32_t> closedImages_{0};
    std::atomic<int> sendingStep_{0};
    std::atomic<int> settlingStep_{0};
    std::atomic<int> firmwareEndStatus_{-1};
    std::atomic<bool> deviceSettingsKnown_{false};
    std::atomic<uint32_t> lastReceiveMs_{0};  // tick count of the last byte received
    // PacketsToSend per step, counted whenever the images load or empty (imagesMutex_ held), so that
    // any thread reads them without walking an image another thread may be emptying.
    std::array<std::atomic<int>, kStepLimit> packetsToSend_{};
    void CountPacketsToSend();
    // Waits until no byte has come for `quietMs` (at most ten times as long on a noisy line), or the
    // run failed or stopped. True when the run may go on.
    bool WaitLineQuiet(uint32_t quietMs);
    void RunEndSettle(int step);

    mutable std::mutex recordMutex_;  // versions, folder, scan report
    std::wstring deviceFirmwareVersion_;
    std::wstring deviceDataVersion_;
    std::wstring deviceRadarVersion_;
    std::atomic<uint32_t> portLimit_{0};
    std::atomic<uint32_t> baudRate_{0};
    std::wstring toolFolder_;
    ScanReport scanReport_;
    std::wstring failureReason_;
    std::atomic<ConnectState> connectState_{ConnectState::Idle};

    EngineOptions options_;
    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;
    std::atomic<int> pauseGeneration_{0};
    // From the firmware pause's job being posted until it has done: a lost line is the restart.
    std::atomic<bool> awaitingRestart_{false};
    std::atomic<bool> restartLineLost_{false};  // the line went away in this pause
    std::atomic<uint32_t> readyCount_{0};         // device-information answers so far
    std::atomic<uint32_t> runsStarted_{0};        // StartUpdateRun calls so far
    std::atomic<uint32_t> refreshRun_{0};         // runsStarted_ when the versions were asked for
    std::atomic<uint32_t> settingsInfoAsked_{0};  // settings-information reads queued so far

    CJobWorker jobWorker_;
    std::mutex connectMutex_;  // guards connectThread_
    std::thread connectThread_;
    std::atomic<bool> scanAbort_{false};
    std::mutex scanWakeMutex_;
    std::condition_variable scanWake_;
    std::atomic<uint8_t> connectedPort_{0};

    // Open and Close of serial_ come from the connect thread, the thread that stops the engine and the
    // line closer; this keeps them one at a time.
    std::mutex portMutex_;
    mutable std::mutex lineMutex_;  // guards lineCloser_ and lineLostReason_
    std::thread lineCloser_;
    std::wstring lineLostReason_;
};
