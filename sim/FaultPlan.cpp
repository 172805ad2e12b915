#include "sim/FaultPlan.h"

#include <cctype>
#include <climits>

bool CFaultPlan::Has(FaultKind kind, uint8_t cmd, unsigned ordinal) const {
    for (const FaultRule& rule : rules_) {
        if (rule.kind == kind && rule.cmd == cmd && rule.ordinal == ordinal) return true;
    }
    return false;
}

std::vector<uint8_t> CFaultPlan::StraysBefore(unsigned frameNumber) const {
    std::vector<uint8_t> codes;
    for (const FaultRule& rule : rules_)
        if (rule.kind == FaultKind::StrayAnswer && rule.ordinal == frameNumber) codes.push_back(rule.cmd);
    return codes;
}

bool CFaultPlan::HasFrame(FaultKind kind, unsigned frame) const {
    for (const FaultRule& rule : rules_) {
        if (rule.kind == kind && rule.ordinal == frame) return true;
    }
    return false;
}

int ParseUnsigned(const std::string& text, unsigned long minValue, unsigned long maxValue,
                  unsigned long& value) {
    size_t pos = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    if (pos >= text.size()) return 0;
    unsigned long result = 0;
    for (; pos < text.size(); ++pos) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        unsigned digit = 0;
        if (std::isdigit(c)) {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && std::isxdigit(c)) {
            digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        } else {
            return 0;
        }
        // Checked before the multiply, so a long digit string cannot wrap back into range.
        if (result > (ULONG_MAX - digit) / static_cast<unsigned long>(base)) return 0;
        result = result * static_cast<unsigned long>(base) + digit;
        if (result > maxValue) return 0;
    }
    if (result < minValue || result > maxValue) return 0;
    value = result;
    return 1;
}

int ParseFaultSpec(const std::string& text, uint8_t& cmd, unsigned& ordinal, std::string& error) {
    const size_t at = text.find('@');
    if (at == std::string::npos) {
        error = "expected CMD@N (for example 0x23@2), got '" + text + "'";
        return 0;
    }
    unsigned long code = 0;
    unsigned long nth = 0;
    if (!ParseUnsigned(text.substr(0, at), 0, 0xFF, code)) {
        error = "command code must be 0x00..0xFF in '" + text + "'";
        return 0;
    }
    if (!ParseUnsigned(text.substr(at + 1), 1, 1000000000UL, nth)) {
        error = "frame number must be 1 or more in '" + text + "'";
        return 0;
    }
    cmd = static_cast<uint8_t>(code);
    ordinal = static_cast<unsigned>(nth);
    return 1;
}
