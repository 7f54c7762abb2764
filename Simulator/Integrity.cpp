#include "Simulator/Integrity.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <algorithm>

IntegrityCheck::IntegrityCheck(std::vector<ByteView> expectedPortions)
    : expected(std::move(expectedPortions)), received(expected.size() + 1, 0),
      cut(expected.size(), false) {}

void IntegrityCheck::Cut(std::size_t portion) {
    if (portion < cut.size())
        cut[portion] = true;
}

void IntegrityCheck::Arrived(std::size_t portion, unsigned char byte) {
    portion = std::min(portion, expected.size());
    const std::uint64_t offset = received[portion]++;
    if (difference || portion == expected.size() || offset >= expected[portion].size)
        return;
    const unsigned char wanted = expected[portion].data[offset];
    if (byte != wanted)
        difference = Difference{portion, offset, wanted, byte};
}

IntegrityReport IntegrityCheck::Report() const {
    const std::size_t count = expected.size();
    // Portions arrive in order, so the whole ones come first; empty ones count as whole.
    std::size_t whole = 0;
    std::uint64_t cutOff = 0;
    while (whole < count && (received[whole] == expected[whole].size || cut[whole])) {
        cutOff +=
            expected[whole].size - std::min<std::uint64_t>(received[whole], expected[whole].size);
        ++whole;
    }

    IntegrityReport report;
    report.portions = whole + (received[whole] > 0 ? 1 : 0);
    for (std::uint64_t bytes : received)
        report.bytes += bytes;
    report.cutOff = cutOff;
    report.identical = !difference && whole == count && received[count] == 0 && cutOff == 0;

    const unsigned portions = static_cast<unsigned>(report.portions);
    const std::string what = Format(
        "device received %u portion%s, %s", portions, portions == 1 ? "" : "s",
        BytesToHuman(static_cast<unsigned int>(std::min<std::uint64_t>(report.bytes, 0xFFFFFFFFu)))
            .c_str());
    if (report.identical) {
        report.text = what + ", identical to the update file";
        return report;
    }

    std::string problem;
    if (difference) {
        report.portion = difference->portion + 1;
        report.offset = difference->offset;
        report.expectedByte = difference->expected;
        report.receivedByte = difference->received;
        problem = Format("portion %u differs from the update file at byte %llu (file 0x%02x, "
                         "device 0x%02x)",
                         static_cast<unsigned>(report.portion),
                         static_cast<unsigned long long>(difference->offset),
                         static_cast<unsigned>(difference->expected),
                         static_cast<unsigned>(difference->received));
    } else if (whole < count && received[whole] > 0) {
        report.portion = whole + 1;
        problem = Format("portion %u: the device received %llu of its %llu bytes",
                         static_cast<unsigned>(whole + 1),
                         static_cast<unsigned long long>(received[whole]),
                         static_cast<unsigned long long>(expected[whole].size));
    } else if (whole < count) {
        report.portion = whole + 1;
        problem = Format("the update file has %u portions", static_cast<unsigned>(count));
    } else if (received[count] == 0) {
        problem = Format("%llu bytes cut off when the device went, the rest identical",
                         static_cast<unsigned long long>(cutOff));
    } else {
        problem = Format("%llu bytes arrived beyond the update file's portions",
                         static_cast<unsigned long long>(received[count]));
    }
    report.text = what + "; " + problem;
    return report;
}

std::vector<ByteView> PortionViews(const Update& update) {
    std::vector<ByteView> views;
    for (const Update::SysExPortion& portion : update.sysExPortions)
        views.push_back({portion.sysEx.data(), portion.sysEx.size()});
    return views;
}
