#pragma once

// How much room another client of the ALSA sequencer has left for incoming events. The
// sequencer drops what a user-space client's input pool cannot take (and the client
// then loses its whole queue), with no push-back to the sender; the kernel tells any
// client's free room, but libasound asks only for one's own, so this asks the kernel.

namespace midiupdate {

struct ClientRoom {
    bool known = false; // false: a kernel client, or the kernel did not say
    int freeCells = 0;
    int poolCells = 0;
};

// `fd`: our sequencer handle's descriptor; `client`: the other client's number.
ClientRoom InputRoomOf(int fd, int client);

// The cells of an input pool that an event carrying `bytes` of variable data takes.
int CellsFor(unsigned long bytes);

} // namespace midiupdate
