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

bool IsDeviceRefusal(uint8_t code) {
    for (const DeviceStatusText& entry : kDeviceStatusTexts)
        if (entry.code == code) return true;
    return false;
}

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
    const ImageRow* image = ImageByCommand(command);
    const wchar_t* what = command == CMD_FIRMWARE_END                           ? L"завершение прошивки"
                          : image != nullptr && command == image->startCmd ? L"начало передачи"
                                                                            : L"пакет";
    return std::wstring(L"устройство отклонило ") + what + L" (код " + std::to_wstring(status) + L"): " + device +
           L" — " + StatusText(status).russian;
}

int CDealMsg::GetMode() { return mode_.load(); }
void CDealMsg::SetMode(int mode) { mode_.store(mode); }
uint8_t CDealMsg::GetFlag() { return flag_.load(); }
void CDealMsg::SetFlag(uint8_t flag) { flag_.store(flag); }

int CDealMsg::StoreSettings(const CRawString& frame) {
    // A block of another size is no settings block of this device: neither a short one padded with
    // zeros nor a long one cut is stored, so it can never be saved or written back.
    if (frame.Size() != FRAME_OFFSET_SETTINGS + SETTINGS_BLOCK_SIZE + 1) return 0;
    const uint8_t* block = frame.Data() + FRAME_OFFSET_SETTINGS;
    const uint8_t which = At(frame, FRAME_OFFSET_ANSWERED);
    if (which == CMD_READ_SETTINGS_INFO) {
        Engine().SetSettingsInfoBlock(block);
        return 1;
    }
    if (which == CMD_READ_SETTINGS) {
        Engine().StoreDeviceSettings(block);
        return 1;
    }
    return 0;
}

void CDealMsg::NotInFlight(uint8_t code, const wchar_t* what) {
    Trace(L"[CDealMsg] answer %02X (%ls) answers no command in flight (%02X); ignored\r\n", code, what,
          static_cast<unsigned>(Engine().HeadInFlight()));
}

// The packet is counted before the queue lets the next frame go: otherwise the sender could write the
// image's end command and end the run while this thread still reports the last packet, and the window
// would get a packet after the end of the run.
void CDealMsg::AcceptPacket(const ImageRow& image) {
    CWork_BK& engine = Engine();
    engine.CountAcceptedPacket(image.step);
    engine.NotifyPacketSent();
    engine.OnAnswer(image.packetCmd);
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
    engine.SetSendingStep(step);
    engine.SelectStep(step);
    engine.NotifyStepBegin();
    engine.PostJob(step);
}

void CDealMsg::Refused(int step, uint8_t command, uint8_t status) {
    // Waiting would only let the sender give up after its wait slices, and the device keeps nothing
    // of a refused frame: end the run now and say what the device said.
    Trace(L"[CDealMsg] device refused %02X with status %d; run ended\r\n", command, status);
    Engine().FailRun(step, RefusalReason(command, status));
}

void CDealMsg::PacketResult(const ImageRow& image, uint8_t status) {
    CWork_BK& engine = Engine();
    const uint8_t acceptedStatus = image.resultRule == ResultRule::AckStatus ? ACK_STATUS_ACCEPTED : PACKET_STATUS_ACCEPTED;
    const bool accepted = image.resultRule == ResultRule::Unexamined || status == acceptedStatus;
    if (engine.HeadInFlight() == image.packetCmd) {
        if (accepted)
            AcceptPacket(image);
        else
            Refused(image.step, image.packetCmd, status);
        return;
    }
    // No packet of this kind is awaited. For the image being sent that is no stray: the device answered
    // a packet twice, or refused one the tool took as answered already. Once the device has confirmed
    // an image's end it has answered every packet before (it answers in order): later ones are strays.
    const bool confirmedWhole = image.deviceConfirmsEnd && engine.ImageClosed(image.step);
    if (image.step == engine.SendingStep() && !confirmedWhole && !engine.RunFailed() &&
        engine.CurrentStep() != StepFinished) {
        if (!accepted) {
            Refused(image.step, image.packetCmd, status);
            return;
        }
        Trace(L"[CDealMsg] result %02X for step %d while no packet awaits one: the device answered more often than "
              L"asked; run ended\r\n",
              image.resultAnswer, image.step);
        engine.FailRun(image.step, L"устройство ответило больше раз, чем его спросили");
        return;
    }
    NotInFlight(image.resultAnswer, L"packet result");
}

void CDealMsg::EndConfirmed(const ImageRow& image, uint8_t status) {
    CWork_BK& engine = Engine();
    // Only the confirmation of the end command in flight ends the image: a repeated one would end the
    // step again and start the next image a second time in its middle.
    if (engine.HeadInFlight() != image.endCmd) {
        Trace(L"firmware end confirmed without its command in flight; ignored\r\n");
        return;
    }
    // The device's explicit refusals; any other status is its end of the firmware.
    if (IsDeviceRefusal(status)) {
        Refused(image.step, image.endCmd, status);
        return;
    }
    Trace(L"[CDealMsg] firmware end confirmed with status %d\r\n", status);
    engine.SetFirmwareEndStatus(status);
    engine.MarkImageClosed(image.step);
    engine.OnAnswer(image.endCmd);
    engine.NotifyStepEnd(0);
    // The device now restarts; the job worker waits for it and then starts the next image, while this
    // thread goes on reading the line.
    if (engine.RunActive()) engine.PostJob(kFirmwarePauseJob);
}

void CDealMsg::DealAck(uint8_t answered, uint8_t status) {
    CWork_BK& engine = Engine();
    if (const ImageRow* image = ImageByCommand(answered)) {
        if (answered == image->packetCmd && image->resultRule == ResultRule::AckStatus)
            PacketResult(*image, status);
        else if (answered == image->endCmd && image->deviceConfirmsEnd)
            EndConfirmed(*image, status);
        else if (answered == image->endCmd && image->endAckAccepted)
            engine.OnAnswer(answered);  // it finds the end command long gone
        else if (answered == image->startCmd && status != ACK_STATUS_ACCEPTED && engine.HeadInFlight() == answered)
            Refused(image->step, answered, status);
        return;
    }
    if (answered == CMD_READ_SETTINGS || answered == CMD_READ_SETTINGS_INFO) engine.OnAnswer(answered);
}

void CDealMsg::DeviceInfo(const CRawString& frame) {
    CWork_BK& engine = Engine();
    // 0x46 answers the device-information request and nothing else, whatever command byte it echoes.
    if (engine.HeadInFlight() != CMD_DEVICE_INFO) {
        NotInFlight(ANS_DEVICE_INFO, L"device information");
        return;
    }
    const uint8_t echoed = At(frame, FRAME_OFFSET_ANSWERED);
    if (echoed != CMD_DEVICE_INFO)
        Trace(L"[CDealMsg] device information echoes %02X instead of 45; taken as the answer to the request\r\n", echoed);
    Trace(L"Port Num == %d\r\n", At(frame, FRAME_OFFSET_PORT));
    engine.SetDeviceVersions(Format(L"%04d", Word(frame, FRAME_OFFSET_VERSIONS)),
                             Format(L"%04d", Word(frame, FRAME_OFFSET_VERSIONS + 2)),
                             Format(L"%04x", Word(frame, FRAME_OFFSET_VERSIONS + 4)));
    engine.OnAnswer(CMD_DEVICE_INFO);
    engine.NotifyReady();
    ReadSettings();
    ReadSettingsInfo();
}

void CDealMsg::SettingsAnswer(const CRawString& frame) {
    CWork_BK& engine = Engine();
    const uint8_t which = At(frame, FRAME_OFFSET_ANSWERED);
    if ((which != CMD_READ_SETTINGS && which != CMD_READ_SETTINGS_INFO) || engine.HeadInFlight() != which) {
        NotInFlight(ANS_SETTINGS, L"settings");
        return;
    }
    engine.OnAnswer(which);
    if (StoreSettings(frame)) {
        engine.NotifySettingsRead();
        return;
    }
    Trace(L"[CDealMsg] settings answer for %02X carries %d bytes instead of %d; refused, nothing stored\r\n", which,
          frame.Size() - FRAME_OFFSET_SETTINGS - 1, SETTINGS_BLOCK_SIZE);
    engine.NotifySettingsRead(1);
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
            DeviceInfo(frame);
            break;
        case ANS_FIRMWARE_START_SEEN:
            // The firmware start is answered twice: this, then the ready answer that begins the image.
            // The start stays in flight until the second, so that it alone can begin the firmware and
            // a device that never sends it is noticed by the no-answer rule.
            if (engine.HeadInFlight() != CMD_FIRMWARE_START) NotInFlight(code, L"firmware start seen");
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
            SettingsAnswer(frame);
            break;
        case ANS_SETTINGS_WRITTEN:
            if (engine.HeadInFlight() != CMD_WRITE_SETTINGS) {
                NotInFlight(code, L"settings written");
                break;
            }
            engine.OnAnswer(CMD_WRITE_SETTINGS);
            engine.SettingsWritten();
            engine.SelectStep(StepSettings);
            engine.NotifyStepEnd(0);
            if (!engine.CheckImagesWhole()) break;
            engine.SelectStep(StepFinished);
            engine.NotifyStepEnd(0);
            break;
        default:
            if (const ImageRow* image = ImageByReadyAnswer(code)) {
                if (engine.HeadInFlight() == image->startCmd)
                    BeginImage(image->step, code);
                else
                    NotInFlight(code, L"ready");
            } else if (const ImageRow* result = ImageByResultAnswer(code)) {
                PacketResult(*result, status);
            }
            break;
    }
}
