#include "Console/Integrity.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"

#include <algorithm>

namespace midiupdate {
namespace {

std::string FirstDifference(const Portions& expected, const Portions& received) {
    const std::size_t common = std::min(expected.size(), received.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto& sent = expected[i];
        const auto& got = received[i];
        const auto mismatch = std::mismatch(sent.begin(), sent.end(), got.begin(), got.end());
        const std::size_t at = static_cast<std::size_t>(mismatch.first - sent.begin());
        const unsigned n = static_cast<unsigned>(i + 1);
        if (mismatch.first != sent.end() && mismatch.second != got.end())
            return Format("portion %u differs from the update file at byte %lu (file 0x%02x, "
                          "device 0x%02x)",
                          n, static_cast<unsigned long>(at), static_cast<unsigned>(*mismatch.first),
                          static_cast<unsigned>(*mismatch.second));
        if (sent.size() != got.size())
            return Format("portion %u: the device received %lu of its %lu bytes", n,
                          static_cast<unsigned long>(got.size()),
                          static_cast<unsigned long>(sent.size()));
    }
    if (received.size() < expected.size())
        return Format("the update file has %u portions", static_cast<unsigned>(expected.size()));
    return Format("%u bytes arrived beyond the update file's portions",
                  static_cast<unsigned>(received.back().size()));
}

} // namespace

IntegrityReport CheckIntegrity(const Portions& expected, const Portions& received) {
    // Portions that never began count as received empty when the file's are empty too.
    Portions padded = received;
    while (padded.size() < expected.size() && expected[padded.size()].empty())
        padded.emplace_back();

    unsigned long long bytes = 0;
    for (const auto& portion : padded)
        bytes += portion.size();
    const unsigned count = static_cast<unsigned>(padded.size());
    const std::string what = Format(
        "device received %u portion%s, %s", count, count == 1 ? "" : "s",
        BytesToHuman(static_cast<unsigned int>(std::min<unsigned long long>(bytes, 0xFFFFFFFFu)))
            .c_str());

    IntegrityReport report;
    report.identical = padded == expected;
    report.text = report.identical ? what + ", identical to the update file"
                                   : what + "; " + FirstDifference(expected, padded);
    return report;
}

} // namespace midiupdate
