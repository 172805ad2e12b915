// CDealMsg: the protocol driver. It knows what every device answer means (Deal) and which commands
// an update run sends (the step operations). One static object per process; reach it with
// CDealMsg::Instance(). It owns no connection: it queues frames through the engine's command queue
// and reads and writes the engine record.
//
// Threads: Deal runs on the serial reader thread; the packet operations on the engine's job worker;
// the start operations and the next-image rule on whichever thread ended the previous step (reader,
// sender, or the front end's thread for the first step); RequestDeviceInfo on the connect thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/RawString.h"
#include "transport/Singleton.h"

class CPacket_Hex;
class CWork_BK;
struct ImageRow;

class CDealMsg : public Singleton<CDealMsg> {
public:
    CDealMsg();
    ~CDealMsg() override;

    virtual std::wstring GetErrorText(uint8_t code);
    virtual int GetMode();
    virtual void SetMode(int mode);
    virtual uint8_t GetFlag();
    virtual void SetFlag(uint8_t flag);

    // Acts on one answer frame that passed the receive path's checks. The image answers (ready, packet
    // results, the confirmed end) are read from the image table. Every answer is matched against the
    // command in flight (the queue's head once written): one that answers nothing in flight, and is
    // no message the device sends by itself (0x13, the notice 0x1B), is traced and ignored. Two
    // exceptions end the run, since the protocol has no sequence numbers: a packet result for the image
    // being sent while none is awaited means the device answered more often than asked (a duplicate
    // put the tool one packet ahead), and a refusal of any of its packets ends it with the device's
    // text. A ready answer posts its step's job once per run.
    void Deal(const CRawString& frame);
    // Stores a 0x48 answer's block: 'I' into the information block, 'G' into the device block; an
    // answer whose block is not exactly 73 bytes stores nothing. 1 when a block was stored.
    int StoreSettings(const CRawString& frame);

    void RequestDeviceInfo(uint8_t port);
    void ReadSettings();
    void ReadSettingsInfo();
    void WriteSettings();
    void AckDevice();

    // The three moves of the image of `step`, with the codes, payload and trace of its table row; a
    // step that is no image queues nothing. SendImagePackets (job worker) returns 1 when it has
    // queued every packet and the end command; 0 when the firmware cannot be placed, the run failed
    // while they were being queued, or the step is no image.
    void SendImageStart(int step);
    int SendImagePackets(int step);
    void SendImageEnd(int step);

    // The same moves by image name.
    void SendProjectStart();
    int SendProjectPackets();
    void SendProjectEnd();
    void SendEDogStart();
    int SendEDogPackets();
    void SendEDogEnd();
    void SendMusicStart();
    int SendMusicPackets();
    void SendMusicEnd();
    void SendPicStart();
    int SendPicPackets();
    void SendPicEnd();
    void SendRadarStart();
    int SendRadarPackets();
    void SendRadarEnd();

    // The 0x06 payload of one data record: load address (little-endian), length, data bytes.
    CRawString MakeProjectPayload(const CPacket_Hex& record) const;

    // After image `endedStep` has ended, while the run is active: start the next image with packets in
    // the table's order, else write the settings when they are pending, else end the run.
    void StartNextImage(int endedStep);

    // The user's reason for a run ended by a refusal: the device's own status text (GetErrorText)
    // with its Russian rendering beside it.
    std::wstring RefusalReason(uint8_t command, uint8_t status);

private:
    static CWork_BK& Engine();
    void AcceptPacket(const ImageRow& image);
    // 0x0D [answered, status]: a firmware packet's result, the firmware end's confirmation, a
    // refused start, or a plain acknowledgement.
    void DealAck(uint8_t answered, uint8_t status);
    // The device's result for one packet of `image`.
    void PacketResult(const ImageRow& image, uint8_t status);
    // 0x46 for the device-information request in flight.
    void DeviceInfo(const CRawString& frame);
    // 0x48 for the settings read in flight.
    void SettingsAnswer(const CRawString& frame);
    void NotInFlight(uint8_t code, const wchar_t* what);
    // The device confirmed the end command of `image` with `status`.
    void EndConfirmed(const ImageRow& image, uint8_t status);
    // The firmware records of `image`, each at its load address, then the end command.
    int SendFirmwareRecords(const ImageRow& image);
    // A ready answer: the device waits for the packets of `step`.
    void BeginImage(int step, uint8_t readyCode);
    // The device refused `command` of `step` with `status`.
    void Refused(int step, uint8_t command, uint8_t status);
    void Queue(uint8_t cmd, const void* payload, int length);

    std::atomic<int> mode_{2};
    std::atomic<uint8_t> flag_{0};
};
