#include "support/SimLog.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/HexText.h"
#include "support/TestSupport.h"

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

std::map<std::string, std::string> ReadSummary(const std::string& outDir) {
    std::map<std::string, std::string> values;
    std::ifstream in(outDir + "/summary.txt");
    std::string line;
    while (std::getline(in, line)) {
        const size_t space = line.rfind(' ');
        if (space != std::string::npos) values[line.substr(0, space)] = line.substr(space + 1);
    }
    return values;
}

std::string ReceivedImagesProblem(const std::string& filesDir, const std::string& outDir) {
    namespace fs = std::filesystem;
    struct Image {
        const char* file;
        const char* received;
    };
    const Image images[] = {{"AC7811_project.hex", "firmware.bin"}, {"flagdata.bin", "flagdata.bin"},
                            {"audioHead.bin", "audioHead.bin"},    {"picHead.bin", "picHead.bin"},
                            {"rdfwd.bin", "rdfwd.bin"}};
    const auto summary = ReadSummary(outDir);
    std::string problems;
    auto add = [&](const std::string& problem) { problems += (problems.empty() ? "" : "; ") + problem; };
    for (const Image& image : images) {
        const std::string source = filesDir + "/" + image.file;
        const std::string received = outDir + "/" + image.received;
        std::error_code ec;
        const bool sent = fs::is_regular_file(source, ec) && fs::file_size(source, ec) > 0;
        if (!sent) {
            if (fs::exists(received, ec)) add(std::string(image.received) + " arrived, but its file has nothing to send");
            continue;
        }
        if (!fs::exists(received, ec)) {
            add(std::string(image.received) + " never arrived");
            continue;
        }
        // An image the device never saw the end command of is not complete, whatever its bytes.
        const std::string ended = "ended " + std::string(image.received);
        if (summary.count(ended) == 0 || summary.at(ended) != "1")
            add(std::string(image.received) + (std::string(image.file) == "AC7811_project.hex"
                                                   ? ": the device did not accept the firmware's end"
                                                   : ": its end command never reached the device"));
        if (std::string(image.file) != "AC7811_project.hex") {
            if (ReadFile(received) != ReadFile(source)) add(std::string(image.received) + " differs from its file");
            continue;
        }
        const std::vector<uint8_t> hex = ReadFile(source);
        const std::vector<uint8_t> baseText = ReadFile(outDir + "/firmware.base");
        if (baseText.empty()) {
            add("firmware.base is missing");
            continue;
        }
        const uint32_t base = static_cast<uint32_t>(std::stoul(std::string(baseText.begin(), baseText.end()), nullptr, 16));
        std::string why;
        if (!SameMemory(MemoryOf(ParseHexText(std::string(hex.begin(), hex.end()))), MemoryFromImage(base, ReadFile(received)), &why))
            add("firmware differs: " + why);
    }
    return problems;
}

}  // namespace testsupport
