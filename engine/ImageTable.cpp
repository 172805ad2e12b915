#include "engine/ImageTable.h"

#include "protocol/IspCodes.h"
#include "engine/UpdateStep.h"

namespace {

constexpr ImageRow kImageRows[] = {
    {StepProject, L"AC7811_project.hex", L"прошивка", L"ПО",
     CMD_FIRMWARE_START, CMD_FIRMWARE_DATA, CMD_FIRMWARE_END, ANS_FIRMWARE_READY, ANS_ACK, ResultRule::AckStatus,
     true, false, StartPayload::FirmwareVersion, StepNone, L"Project PacketNum is:%ld\r\n", ImageReaderKind::Hex,
     L"Обновление ПО...", L"Обновление ПО прошло успешно!", L"Не удалось обновить ПО!"},
    {StepEDog, L"flagdata.bin", L"база камер", L"база камер",
     CMD_EDOG_START, CMD_EDOG_PACKET, CMD_EDOG_END, ANS_EDOG_READY, ANS_EDOG_RESULT, ResultRule::StatusByte,
     false, true, StartPayload::None, StepNone, L"EDog PacketNum is:%ld\r\n", ImageReaderKind::Data,
     L"Обновление базы камер...", L"Обновление базы камер прошло успешно!", L"Не удалось обновить базу камер!"},
    {StepMusic, L"audioHead.bin", L"звуковые файлы", L"звуковые файлы",
     CMD_MUSIC_START, CMD_MUSIC_PACKET, CMD_MUSIC_END, ANS_MUSIC_READY, ANS_MUSIC_RESULT, ResultRule::StatusByte,
     false, false, StartPayload::None, StepNone, L"Music PacketNum is:%ld\r\n", ImageReaderKind::Data,
     L"Обновление звуковых файлов...", L"Обновление звуковых файлов прошло успешно!",
     L"Не удалось обновить звуковые файлы!"},
    {StepPic, L"picHead.bin", L"ресурсы отображения", L"ресурсы отображения",
     CMD_PIC_START, CMD_PIC_PACKET, CMD_PIC_END, ANS_PIC_READY, ANS_PIC_RESULT, ResultRule::StatusByte,
     false, true, StartPayload::None, StepMusic, L"Pic PacketNum is:%ld\r\n", ImageReaderKind::Data,
     L"Обновление файла ресурсов отображения...", L"Обновление файла ресурсов отображения прошло успешно!",
     L"Не удалось обновить раздел ресурсов!"},
    // The radar module's result byte carries no accepted/refused meaning.
    {StepRadar, L"rdfwd.bin", L"ПО радарной части", L"ПО радарной части",
     CMD_RADAR_START, CMD_RADAR_PACKET, CMD_RADAR_END, ANS_RADAR_READY, ANS_RADAR_RESULT, ResultRule::Unexamined,
     false, false, StartPayload::ImageSize, StepPic, L"Radar PacketNum is:%ld\r\n", ImageReaderKind::Radar,
     L"Обновление ПО радарной части...", L"Обновление ПО радарной части прошло успешно!",
     L"Не удалось обновить ПО радарной части!"},
};

// A row that breaks the protocol's rules fails the build rather than a run.
constexpr bool IsFixedCommand(uint8_t cmd) {
    return cmd == CMD_ACK || cmd == CMD_DEVICE_INFO || cmd == CMD_READ_SETTINGS || cmd == CMD_READ_SETTINGS_INFO ||
           cmd == CMD_WRITE_SETTINGS;
}

constexpr bool IsFixedAnswer(uint8_t code) {
    return code == ANS_ACK || code == ANS_IGNORED || code == ANS_DEVICE_NOTICE || code == ANS_FIRMWARE_START_SEEN ||
           code == ANS_DEVICE_INFO || code == ANS_SETTINGS || code == ANS_SETTINGS_WRITTEN;
}

constexpr bool IsAnswerCode(uint8_t code) { return code >= ANSWER_CODE_MIN && code <= ANSWER_CODE_MAX; }

constexpr bool RowIsValid(const ImageRow& row, size_t index) {
    if (row.step <= StepNone || row.step >= kStepLimit || row.step == StepSettings || row.step == StepFinished)
        return false;
    if (IsFixedCommand(row.startCmd) || IsFixedCommand(row.packetCmd) || IsFixedCommand(row.endCmd)) return false;
    if (row.startCmd == row.packetCmd || row.startCmd == row.endCmd || row.packetCmd == row.endCmd) return false;
    if (!IsAnswerCode(row.readyAnswer) || IsFixedAnswer(row.readyAnswer)) return false;
    // Only the 0x0D rule is answered with 0x0D; the other rules need an answer code of their own.
    if ((row.resultRule == ResultRule::AckStatus) != (row.resultAnswer == ANS_ACK)) return false;
    if (row.resultRule != ResultRule::AckStatus && (!IsAnswerCode(row.resultAnswer) || IsFixedAnswer(row.resultAnswer)))
        return false;
    if (row.resultAnswer == row.readyAnswer || (row.deviceConfirmsEnd && row.endAckAccepted)) return false;
    // The early announcement comes from an image before this one.
    bool announcerBefore = row.announcedAfter == StepNone;
    for (size_t i = 0; i < index; ++i) announcerBefore |= kImageRows[i].step == row.announcedAfter;
    return announcerBefore;
}

constexpr bool RowsAreDistinct(const ImageRow& a, const ImageRow& b) {
    const uint8_t codesA[] = {a.startCmd, a.packetCmd, a.endCmd};
    const uint8_t codesB[] = {b.startCmd, b.packetCmd, b.endCmd};
    for (uint8_t x : codesA)
        for (uint8_t y : codesB)
            if (x == y) return false;
    const uint8_t answersA[] = {a.readyAnswer, a.resultAnswer};
    const uint8_t answersB[] = {b.readyAnswer, b.resultAnswer};
    for (uint8_t x : answersA)
        for (uint8_t y : answersB)
            if (x == y && x != ANS_ACK) return false;
    return a.step != b.step;
}

constexpr bool TableIsValid() {
    constexpr size_t count = sizeof kImageRows / sizeof kImageRows[0];
    for (size_t i = 0; i < count; ++i) {
        if (!RowIsValid(kImageRows[i], i)) return false;
        for (size_t j = i + 1; j < count; ++j)
            if (!RowsAreDistinct(kImageRows[i], kImageRows[j])) return false;
    }
    return true;
}

static_assert(TableIsValid(), "an image row breaks the protocol's rules (codes shared, reserved or unanswerable)");

template <typename Match>
const ImageRow* Find(Match match) {
    for (const ImageRow& row : kImageRows)
        if (match(row)) return &row;
    return nullptr;
}

}  // namespace

std::span<const ImageRow> ImageRows() { return kImageRows; }

const ImageRow* ImageByStep(int step) {
    return Find([step](const ImageRow& row) { return row.step == step; });
}

const ImageRow* ImageByCommand(uint8_t cmd) {
    return Find([cmd](const ImageRow& row) { return row.startCmd == cmd || row.packetCmd == cmd || row.endCmd == cmd; });
}

const ImageRow* ImageByReadyAnswer(uint8_t code) {
    return Find([code](const ImageRow& row) { return row.readyAnswer == code; });
}

const ImageRow* ImageByResultAnswer(uint8_t code) {
    if (code == ANS_ACK) return nullptr;
    return Find([code](const ImageRow& row) { return row.resultAnswer == code; });
}

int ImageIndex(const ImageRow* row) {
    if (row == nullptr) return -1;
    return static_cast<int>(row - kImageRows);
}

int StartPayloadBytes(StartPayload payload) {
    switch (payload) {
        case StartPayload::FirmwareVersion: return 2;
        case StartPayload::ImageSize: return 4;
        case StartPayload::None: break;
    }
    return 0;
}

int StepOfCommand(uint8_t cmd) {
    if (const ImageRow* row = ImageByCommand(cmd)) return row->step;
    return cmd == CMD_WRITE_SETTINGS ? StepSettings : StepNone;
}

bool IsUnansweredImageEnd(uint8_t cmd) {
    const ImageRow* row = ImageByCommand(cmd);
    return row != nullptr && !row->deviceConfirmsEnd && row->endCmd == cmd;
}
