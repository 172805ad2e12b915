#include "engine/DealMsg.h"

#include <cwchar>

#include "engine/IspCodes.h"
#include "engine/Packet_ISP.h"
#include "engine/Trace.h"
#include "engine/Work_BK.h"

// The one protocol driver of the process.
static CDealMsg g_dealMsg;

namespace {

uint8_t At(const CRawString& frame, int offset) { return frame.GetAt(offset); }

int Word(const CRawString& frame, int offset) { return At(frame, offset) * 256 + At(frame, offset + 1); }

std::wstring Format(const wchar_t* format, int value) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, format, value);
    return text;
}

}  // namespace

CDealMsg::CDealMsg() = default;
CDealMsg::~CDealMsg() = default;

CWork_BK& CDealMsg::Engine() { return *CWork_BK::Instance(); }

std::wstring CDealMsg::GetErrorText(uint8_t code) {
    const wchar_t* text;
    switch (code) {
        case 3: text = L"命令无效，请重试!\n"; break;
        case 4: text = L"Flash 硬件忙!\n"; break;
        case 5: text = L"Flash 读保护!\n"; break;
        case 6: text = L"Flash 写保护!\n"; break;
        case 7: text = L"参数不足或错误!\n"; break;
        case 8: text = L"目标地址边界错误!\n"; break;
        case 9: text = L"源地址边界错误!\n"; break;
        default: text = L"MCU 参数错误!\n"; break;
    }
    SetFlag(0);
    return text;
}

int CDealMsg::GetMode() { return mode_.load(); }
void CDealMsg::SetMode(int mode) { mode_.store(mode); }
uint8_t CDealMsg::GetFlag() { return flag_.load(); }
void CDealMsg::SetFlag(uint8_t flag) { flag_.store(flag); }

void CDealMsg::StoreSettings(const CRawString& frame) {
    // A short 0x48 would make the copy read past the frame; it stores nothing.
    if (frame.Size() < FRAME_OFFSET_SETTINGS + SETTINGS_BLOCK_SIZE) return;
    const uint8_t* block = frame.Data() + FRAME_OFFSET_SETTINGS;
    const uint8_t which = At(frame, FRAME_OFFSET_ANSWERED);
    if (which == CMD_READ_SETTINGS_INFO)
        Engine().SetSettingsInfoBlock(block);
    else if (which == CMD_READ_SETTINGS)
        Engine().SetSettingsBlock(block);
}

// The packet is counted before the queue lets the next frame go: otherwise the sender could write the
// image's end command and end the run while this thread still reports the last packet, and the window
// would get a packet after the end of the run.
void CDealMsg::AcceptPacket(uint8_t command) {
    Engine().NotifyPacketSent();
    Engine().OnAnswer(command);
}

void CDealMsg::Deal(const CRawString& frame) {
    CWork_BK& engine = Engine();
    const uint8_t code = At(frame, FRAME_OFFSET_CMD);
    const uint8_t answered = At(frame, FRAME_OFFSET_ANSWERED);
    const uint8_t status = At(frame, FRAME_OFFSET_STATUS);
    Trace(L"cmd == %x\r\n", code);

    switch (code) {
        case ANS_ACK:
            if (answered == CMD_FIRMWARE_DATA) {
                if (status == ACK_STATUS_ACCEPTED) AcceptPacket(CMD_FIRMWARE_DATA);
            } else if (answered == CMD_FIRMWARE_END) {
                engine.OnAnswer(CMD_FIRMWARE_END);
                engine.NotifyStepEnd(0);
                // The device needs this time to take the new firmware before the next image.
                if (engine.RunActive() && engine.FirmwarePause()) StartNextImage(StepProject);
            } else if (answered == CMD_EDOG_END || answered == CMD_PIC_END ||
                       answered == CMD_READ_SETTINGS || answered == CMD_READ_SETTINGS_INFO) {
                engine.OnAnswer(answered);
            }
            break;
        case ANS_IGNORED:
            break;
        case ANS_DEVICE_INFO:
            Trace(L"Port Num == %d\r\n", At(frame, FRAME_OFFSET_PORT));
            engine.SetDeviceVersions(Format(L"%04d", Word(frame, FRAME_OFFSET_VERSIONS)),
                                     Format(L"%04d", Word(frame, FRAME_OFFSET_VERSIONS + 2)),
                                     Format(L"%04x", Word(frame, FRAME_OFFSET_VERSIONS + 4)));
            engine.OnAnswer(answered);
            engine.NotifyReady();
            ReadSettings();
            ReadSettingsInfo();
            break;
        case ANS_FIRMWARE_READY:
            engine.ClearTasks();
            engine.SelectStep(StepProject);
            engine.NotifyStepBegin();
            engine.PostJob(StepProject);
            break;
        case ANS_FIRMWARE_START_SEEN:
            engine.ClearTasks();
            break;
        case ANS_DEVICE_NOTICE: {
            // Emptying the queue discards the rest of a step in progress; say so instead of letting
            // the run stand still.
            const int cutShort = engine.QueuedRunStep();
            engine.ClearTasks();
            if (cutShort != StepNone) engine.FailRun(cutShort, L"устройство прервало обновление (уведомление 0x1B)");
            AckDevice();
            break;
        }
        case ANS_EDOG_READY:
            engine.ClearTasks();
            engine.SelectStep(StepEDog);
            engine.NotifyStepBegin();
            engine.PostJob(StepEDog);
            break;
        case ANS_MUSIC_READY:
            engine.ClearTasks();
            engine.SelectStep(StepMusic);
            engine.NotifyStepBegin();
            engine.PostJob(StepMusic);
            break;
        case ANS_PIC_READY:
            engine.ClearTasks();
            engine.SelectStep(StepPic);
            engine.NotifyStepBegin();
            engine.PostJob(StepPic);
            break;
        case ANS_RADAR_READY:
            engine.ClearTasks();
            engine.SelectStep(StepRadar);
            engine.NotifyStepBegin();
            engine.PostJob(StepRadar);
            break;
        case ANS_EDOG_RESULT:
        case ANS_MUSIC_RESULT:
        case ANS_PIC_RESULT:
            if (status == PACKET_STATUS_ACCEPTED) AcceptPacket(answered);
            break;
        case ANS_RADAR_RESULT:
            // The radar module's result byte carries no accepted/refused meaning.
            AcceptPacket(answered);
            break;
        case ANS_SETTINGS:
            engine.OnAnswer(answered);
            StoreSettings(frame);
            engine.NotifySettingsRead();
            break;
        case ANS_SETTINGS_WRITTEN:
            engine.OnAnswer(answered);
            engine.SelectStep(StepSettings);
            engine.NotifyStepEnd(0);
            engine.SelectStep(StepFinished);
            engine.NotifyStepEnd(0);
            break;
        default:
            break;
    }
}
