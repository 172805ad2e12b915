#include "support/SimLog.h"

#include <fstream>
#include <sstream>

namespace testsupport {

std::vector<LoggedFrame> ReadFrameLog(const std::string& outDir) {
    std::vector<LoggedFrame> frames;
    std::ifstream in(outDir + "/frames.log");
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 2 || (line[0] != '>' && line[0] != '<')) continue;
        LoggedFrame frame{line[0] == '>', {}, 0};
        std::istringstream words(line.substr(2));
        std::string word;
        bool truncated = false;
        while (words >> word) {
            if (word == "...") {
                truncated = true;
                continue;
            }
            if (truncated) {
                if (word[0] == '(') frame.size = std::stoi(word.substr(1));
                break;
            }
            frame.bytes.push_back(static_cast<uint8_t>(std::stoi(word, nullptr, 16)));
        }
        if (!truncated) frame.size = static_cast<int>(frame.bytes.size());
        frames.push_back(frame);
    }
    return frames;
}

std::vector<uint8_t> CommandsReceived(const std::vector<LoggedFrame>& frames) {
    std::vector<uint8_t> commands;
    for (const LoggedFrame& frame : frames)
        if (frame.fromTool) commands.push_back(frame.Cmd());
    return commands;
}

std::vector<uint8_t> CommandRuns(const std::vector<uint8_t>& commands) {
    std::vector<uint8_t> runs;
    for (uint8_t cmd : commands)
        if (runs.empty() || runs.back() != cmd) runs.push_back(cmd);
    return runs;
}

int CountCommand(const std::vector<uint8_t>& commands, uint8_t cmd) {
    int n = 0;
    for (uint8_t c : commands) n += c == cmd;
    return n;
}

}  // namespace testsupport
