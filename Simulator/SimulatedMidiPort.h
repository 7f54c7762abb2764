#pragma once

// A MIDI port with a simulated device behind it instead of hardware: the transfer code
// runs unchanged against it, on the virtual clock or in real time.

#include "MidiUpdateLib/MidiPort.h"
#include "Simulator/SimulatedDevice.h"

#include <atomic>
#include <vector>

class SimulatedMidiPort : public MidiPort {
public:
    // Takes over the device's output; the device must outlive the port. An ideal chunk
    // size of 0 is taken as 1.
    explicit SimulatedMidiPort(SimulatedDevice& device, unsigned long idealChunkSize = 2048,
                               unsigned long maxChunkSize = 16384);
    ~SimulatedMidiPort() override; // closes and lets go of the device's output

    unsigned long IdealChunkSize() override { return idealChunkSize; }
    unsigned long MaxChunkSize() override { return maxChunkSize; }
    bool IsConnected() override; // opens the device when it is present
    void Disconnect() override;
    void Send(const unsigned char* data, unsigned long size) override;
    // Unlike the platform ports, really sends `request` (opening the device when needed)
    // and waits up to the limit for an identity reply, which it returns; empty for none.
    std::vector<unsigned char> ReceiveSysEx(unsigned int timeoutMilliseconds,
                                            const unsigned char* request,
                                            unsigned long size) override;

private:
    void Deliver(const unsigned char* data, std::size_t size); // the device's output

    SimulatedDevice& device;
    const unsigned long idealChunkSize;
    const unsigned long maxChunkSize;
    std::atomic<bool> open{false}; // read on the delivering thread
};
