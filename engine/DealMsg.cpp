#include "engine/DealMsg.h"

#include <cwchar>

#include "engine/ImageTable.h"
#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "base/Trace.h"
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

// The device's status texts, and what each means for the user.
struct DeviceStatusText {
    uint8_t code;
    const wchar_t* device;
    const wchar_t* russian;
};

constexpr DeviceStatusText kDeviceStatusTexts[] = {
    {3, L"命令无效，请重试!\n", L"недопустимая команда, повторите попытку"},
    {4, L"Flash 硬件忙!\n", L"флеш-память занята"},
    {5, L"Flash 读保护!\n", L"флеш-память защищена от чтения"},
    {6, L"Flash 写保护!\n", L"флеш-память защищена от записи"},
    {7, L"参数不足或错误!\n", L"параметров недостаточно или они неверны"},
    {8, L"目标地址边界错误!\n", L"адрес назначения вне допустимых границ"},
    {9, L"源地址边界错误!\n", L"адрес источника вне допустимых границ"},
};
constexpr DeviceStatusText kOtherDeviceStatus = {0, L"MCU 参数错误!\n", L"ошибка параметров микроконтроллера"};

const DeviceStatusText& StatusText(uint8_t code) {
    for (const DeviceStatusText& entry : kDeviceStatusTexts)
        if (entry.code == code) return entry;
    return kOtherDeviceStatus;
}

}  // namespace

CDealMsg::CDealMsg() = default;
CDealMsg::~CDealMsg() = default;

CWork_BK& CDealMsg::Engine() { return *CWork_BK::Instance(); }

std::wstring CDealMsg::GetErrorText(uint8_t code) {
    const wchar_t* text = StatusText(code).device;
    SetFlag(0);
    return text;
}

std::wstring CDealMsg::RefusalReason(uint8_t command, uint8_t status) {
    std::wstring device = GetErrorText(status);
    while (!device.empty() && device.back() == L'\n') device.pop_back();
    const wchar_t* what = command == CMD_FIRMWARE_END ? L"завершение прошивки" : L"пакет";
    return std::wstring(L"устройство отклонило ") + what + L" (код " + std::to_wstring(status) + L"): " + device +
           L" — " + StatusText(status).russian;
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
        Engine().StoreDeviceSettings(block);
}

// The packet is counted before the queue lets the next frame go: otherwise the sender could write the
// image's end command and end the run while this thread still reports the last packet, and the window
// would get a packet after the end of the run.
void CDealMsg::AcceptPacket(uint8_t command) {
    Engine().NotifyPacketSent();
    Engine().OnAnswer(command);
}

void CDealMsg::BeginImage(int step, uint8_t readyCode) {
    CWork_BK& engine = Engine();
    if (engine.RunFailed()) {
        Trace(L"[CDealMsg] ready answer %02X after the run failed; ignored\r\n", readyCode);
        return;
    }
    // A repeated ready answer would empty the queue under the packets already queued and queue the
    // image a second time. The next-image rule may have announced the step already; that posts no job.
    if (!engine.MarkJobPosted(step)) {
        Trace(L"[CDealMsg] ready answer %02X again: the packets of step %d are already queued; ignored\r\n",
              readyCode, step);
        return;
    }
    engine.ClearTasks();
    engine.SelectStep(step);
    engine.NotifyStepBegin();
    engine.PostJob(step);
}

void CDealMsg::Refused(int step, uint8_t command, uint8_t status) {
    CWork_BK& engine = Engine();
    // Only the command in flight can be refused; a late copy of a refusal finds the run already ended.
    if (engine.HeadCommand() != command) {
        Trace(L"[CDealMsg] refusal of %02X (status %d) while it is not in flight; ignored\r\n", command, status);
        return;
    }
    // Waiting would only let the sender give up after its wait slices, and the device keeps nothing
    // of a refused frame: end the run now and say what the device said.
    Trace(L"[CDealMsg] device refused %02X with status %d; run ended\r\n", command, status);
    engine.FailRun(step, RefusalReason(command, status));
}

void CDealMsg::PacketResult(const ImageRow& image, uint8_t answered, uint8_t status) {
    const uint8_t acceptedStatus = image.resultRule == ResultRule::AckStatus ? ACK_STATUS_ACCEPTED : PACKET_STATUS_ACCEPTED;
    if (image.resultRule == ResultRule::Unexamined || status == acceptedStatus)
        AcceptPacket(answered);
    else
        Refused(image.step, answered, status);
}

void CDealMsg::EndConfirmed(const ImageRow& image, uint8_t status) {
    CWork_BK& engine = Engine();
    if (status != ACK_STATUS_ACCEPTED) {
        Refused(image.step, image.endCmd, status);
        return;
    }
    // Only the confirmation of the end command in flight ends the image: a repeated one would end the
    // step again and start the next image a second time in its middle.
    if (engine.HeadCommand() != image.endCmd) {
        Trace(L"firmware end confirmed without its command in flight; ignored\r\n");
        return;
    }
    engine.OnAnswer(image.endCmd);
    engine.NotifyStepEnd(0);
    // The device now restarts; the job worker waits for it and then starts the next image, while this
    // thread goes on reading the line.
    if (engine.RunActive()) engine.PostJob(CWork_BK::kFirmwarePauseJob);
}

void CDealMsg::DealAck(uint8_t answered, uint8_t status) {
    if (const ImageRow* image = ImageByCommand(answered)) {
        if (answered == image->packetCmd && image->resultRule == ResultRule::AckStatus)
            PacketResult(*image, answered, status);
        else if (answered == image->endCmd && image->deviceConfirmsEnd)
            EndConfirmed(*image, status);
        else if (answered == image->endCmd && image->endAckAccepted)
            Engine().OnAnswer(answered);
        return;
    }
    if (answered == CMD_READ_SETTINGS || answered == CMD_READ_SETTINGS_INFO) Engine().OnAnswer(answered);
}

void CDealMsg::Deal(const CRawString& frame) {
    CWork_BK& engine = Engine();
    const uint8_t code = At(frame, FRAME_OFFSET_CMD);
    const uint8_t answered = At(frame, FRAME_OFFSET_ANSWERED);
    const uint8_t status = At(frame, FRAME_OFFSET_STATUS);
    Trace(L"cmd == %x\r\n", code);

    switch (code) {
        case ANS_ACK:
            DealAck(answered, status);
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
        case ANS_FIRMWARE_START_SEEN:
            // A late copy of it must not empty the queue under the firmware packets.
            if (engine.JobPosted(StepProject)) {
                Trace(L"[CDealMsg] firmware start seen again after the packets were queued; ignored\r\n");
                break;
            }
            engine.ClearTasks();
            break;
        case ANS_DEVICE_NOTICE: {
            // Emptying the queue discards the rest of a step in progress; say so instead of letting
            // the run stand still.
            const int cutShort = engine.StepCutShort();
            engine.ClearTasks();
            if (cutShort != StepNone) engine.FailRun(cutShort, L"устройство прервало обновление (уведомление 0x1B)");
            AckDevice();
            break;
        }
        case ANS_SETTINGS:
            engine.OnAnswer(answered);
            StoreSettings(frame);
            engine.NotifySettingsRead();
            break;
        case ANS_SETTINGS_WRITTEN:
            engine.OnAnswer(answered);
            engine.SettingsWritten();
            engine.SelectStep(StepSettings);
            engine.NotifyStepEnd(0);
            engine.SelectStep(StepFinished);
            engine.NotifyStepEnd(0);
            break;
        default:
            if (const ImageRow* image = ImageByReadyAnswer(code))
                BeginImage(image->step, code);
            else if (const ImageRow* result = ImageByResultAnswer(code))
                PacketResult(*result, answered, status);
            break;
    }
}
