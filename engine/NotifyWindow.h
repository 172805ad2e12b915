// The window the engine reports to, and the engine messages.
//
// A notification is synchronous, as SendMessageW is: Send() returns only when the receiver has handled
// the message. Engine threads call it; a GUI receiver hands the message to its UI thread and blocks
// until it ran there (and runs it directly when called on the UI thread itself). A receiver must never
// wait for an engine thread while handling a message.
#pragma once

#include <cstdint>

using NotifyWParam = uintptr_t;
using NotifyLParam = intptr_t;

constexpr uint32_t WM_USER_BASE = 0x0400;
constexpr uint32_t WM_ENGINE_READY = WM_USER_BASE + 101;       // 0x465: 0, 0
constexpr uint32_t WM_ENGINE_SETTINGS = WM_USER_BASE + 102;    // 0x466: 0, 0
constexpr uint32_t WM_ENGINE_STEP_BEGIN = WM_USER_BASE + 103;  // 0x467: step, step total
constexpr uint32_t WM_ENGINE_PACKET = WM_USER_BASE + 104;      // 0x468: step total, step sent
constexpr uint32_t WM_ENGINE_STEP_END = WM_USER_BASE + 105;    // 0x469: step, result (0 = success)
// The search for the device: wParam is the ConnectState (below) it reached. Sent when a first scan
// found no device (NoDevice), when the line of a connected device went away (LineLost), and when a run
// looks for its device after the restart that follows the firmware (Restarting).
constexpr uint32_t WM_ENGINE_CONNECT = WM_USER_BASE + 106;     // 0x46A: state, 0
// The pause after the firmware, while the device restarts: ms left, ms in all. Sent when the pause
// starts, once a second and with 0 when it has run out.
constexpr uint32_t WM_ENGINE_WAIT = WM_USER_BASE + 107;        // 0x46B: ms left, ms total
// The device's answers to the first packets of a run come much later than the line needs (a USB
// adapter holds each one for its latency timer): the delay beyond the wire in ms, the median answer
// time in us. Sent at most once a run, while its packets go on.
constexpr uint32_t WM_ENGINE_SLOW_ANSWERS = WM_USER_BASE + 108;  // 0x46C: delay ms, median answer us

// How the last connect attempt ended; the front ends use it to tell "no device" apart from "waiting".
// LineLost: the device was connected and its line went away (LineLostReason() says why); the port
// has been closed and stays closed until the engine is started again, or, with keepScanning, until the
// search that starts again on its own finds a device (then Connected).
// With keepScanning the connect thread runs until the engine stops: NoDevice then means "still looking".
// Restarting: the line went away in the pause after the firmware, as the device restarts; the run
// looks for the device itself (sent when that search starts) and goes on once it is back (Connected),
// or ends (LineLost).
enum class ConnectState { Idle, Scanning, Connected, NoDevice, LineLost, Restarting };

class CNotifyWindow {
public:
    virtual ~CNotifyWindow() = default;
    virtual intptr_t Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) = 0;
};

// The engine's name for the window it reports to; null means "no window", and messages are dropped.
using NotifyHandle = CNotifyWindow*;
