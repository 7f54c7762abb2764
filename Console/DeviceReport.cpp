#include "Console/DeviceReport.h"

#include "Console/Commands.h"
#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"

#include <ostream>

namespace midiupdate {

void TellTransfer(const SimulatedDevice::TransferReport& transfer, std::ostream& out) {
    const std::size_t portions = transfer.completedPortions;
    const std::size_t requests = transfer.identityRequests;
    out << Format("Received %zu complete portion%s and %zu identity request%s.\n", portions,
                  portions == 1 ? "" : "s", requests, requests == 1 ? "" : "s");
    if (transfer.integrity)
        out << transfer.integrity->text << '\n';
}

int ReportDevice(const SimulatedDevice& device, const ArrivalStatistics& arrival,
                 std::ostream& out) {
    const std::vector<SimulatedDevice::TransferReport> transfers = device.Transfers();
    TellTransfer(transfers.back(), out);
    int status = exitOk;
    for (const SimulatedDevice::TransferReport& transfer : transfers)
        if (transfer.integrity && !transfer.integrity->identical)
            status = exitCorrupted;
    if (arrival.bytes && arrival.activeSeconds > 0)
        out << Format("Arrival: %s in %u bursts, %.1f ms from first to last byte of each: "
                      "%.2f MB/s\n",
                      BytesToHuman(static_cast<unsigned int>(arrival.bytes)).c_str(),
                      arrival.bursts, arrival.activeSeconds * 1000.0,
                      arrival.bytes / arrival.activeSeconds / 1e6);
    return status;
}

} // namespace midiupdate
