#include "engine/CommandSteps.h"

#include "engine/frame/IspCodes.h"
#include "engine/UpdateStep.h"

int StepOfCommand(uint8_t cmd) {
    switch (cmd) {
        case CMD_FIRMWARE_START: case CMD_FIRMWARE_DATA: case CMD_FIRMWARE_END: return StepProject;
        case CMD_EDOG_START: case CMD_EDOG_PACKET: case CMD_EDOG_END: return StepEDog;
        case CMD_MUSIC_START: case CMD_MUSIC_PACKET: case CMD_MUSIC_END: return StepMusic;
        case CMD_PIC_START: case CMD_PIC_PACKET: case CMD_PIC_END: return StepPic;
        case CMD_RADAR_START: case CMD_RADAR_PACKET: case CMD_RADAR_END: return StepRadar;
        case CMD_WRITE_SETTINGS: return StepSettings;
        default: return StepNone;
    }
}

bool IsUnansweredImageEnd(uint8_t cmd) {
    return cmd == CMD_EDOG_END || cmd == CMD_MUSIC_END || cmd == CMD_PIC_END || cmd == CMD_RADAR_END;
}
