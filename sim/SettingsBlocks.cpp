#include "sim/SettingsBlocks.h"

#include <cstdio>
#include <memory>

namespace {

// Groups of five bytes: the first byte of each group is opaque to the tool, the next four are
// combo-box indexes for sub-pages 1 to 4. Groups 0..20 and 55 are On/Off boxes (2 items); the
// others have at least 11 items.
bool IsOnOffGroup(int base) { return base <= 20 || base == 55; }
bool IsComboGroup(int base) { return base <= 55 && base != 40; }
constexpr int kFirstCheckByte = 61;

SimSettingsBlock MakeBlock(bool informationBlock) {
    SimSettingsBlock block{};
    for (int i = 0; i < SETTINGS_BLOCK_SIZE; ++i) {
        const int base = (i / 5) * 5;
        const int page = i % 5;
        uint8_t value = 0;
        if (i >= kFirstCheckByte) {
            value = informationBlock ? 0 : static_cast<uint8_t>(i % 2);
        } else if (page == 0 || !IsComboGroup(base)) {
            value = static_cast<uint8_t>(0x10 + i);  // opaque bytes, the same in both blocks
        } else if (informationBlock) {
            value = 0;
        } else {
            value = static_cast<uint8_t>(IsOnOffGroup(base) ? (page % 2) : page + 1);
        }
        block[static_cast<size_t>(i)] = value;
    }
    return block;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

SimSettingsBlock DefaultSettingsBlock() { return MakeBlock(false); }
SimSettingsBlock DefaultSettingsInfoBlock() { return MakeBlock(true); }

int LoadSettingsBlock(const std::string& path, SimSettingsBlock& block, std::string& error) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open settings file '" + path + "'";
        return 0;
    }
    SimSettingsBlock read{};
    const size_t got = std::fread(read.data(), 1, read.size(), file.get());
    // One byte more than a block proves the file is too long without reading all of it.
    uint8_t extra = 0;
    const size_t more = std::fread(&extra, 1, 1, file.get());
    if (got != read.size() || more != 0) {
        error = "settings file '" + path + "' must hold exactly 73 bytes";
        return 0;
    }
    block = read;
    return 1;
}
