#pragma once

// A stand-in for the ALSA sequencer, linked instead of libasound: the sequencer
// functions the Linux port uses, with the real <alsa/asoundlib.h> signatures, run in
// process. Clients opened with snd_seq_open exchange events with each other and with
// device clients whose one port is a SimulatedDevice. Subscribers of the system announce
// port hear clients and ports come and go.
//
// An event for a client waits (up to two seconds) until the client's reader has taken
// it and asked for more (snd_seq_event_input_pending), so a virtual clock's sleeper returns only
// after a reply has reached the port, as the clock requires. Tests that run two clients of their
// own against each other turn that off, or each side's sender would wait for the other's reader.

#include <cstddef>
#include <string>

class SimulatedDevice;

namespace alsastandin {

// Capabilities of a device's port: it takes and gives events, or only takes them.
enum class DevicePort { Duplex, WriteOnly };

// Adds a device client and announces it; returns its client id. The device must stay
// alive until it is unplugged.
int PlugDevice(const std::string& clientName, const std::string& portName, SimulatedDevice& device,
               DevicePort kind = DevicePort::Duplex);
// Removes it with its subscriptions, and announces that its port and client have ended.
void UnplugDevice(int client);

void SetWaitForReaders(bool wait);
// A sequencer short of memory once: event output number `n` from now (1 is the next)
// answers -ENOMEM and goes nowhere; 0 turns it off.
void RefuseOutput(unsigned int n);
std::size_t OpenClients();   // clients opened with snd_seq_open and not yet closed
std::size_t ClientQueries(); // snd_seq_query_next_client calls so far

} // namespace alsastandin
