#include "Linux/AlsaClientPool.h"

#include <sound/asequencer.h>
#include <sys/ioctl.h>

namespace midiupdate {

ClientRoom InputRoomOf(int fd, int client) {
    snd_seq_client_pool pool{};
    pool.client = client;
    ClientRoom room;
    if (fd < 0 || ioctl(fd, SNDRV_SEQ_IOCTL_GET_CLIENT_POOL, &pool) < 0 || pool.input_pool <= 0)
        return room;
    room.known = true;
    room.freeCells = pool.input_free;
    room.poolCells = pool.input_pool;
    return room;
}

int CellsFor(unsigned long bytes) {
    // One cell for the event, and its data in cells of the event's own size.
    const unsigned long cell = sizeof(snd_seq_event);
    return static_cast<int>(1 + (bytes + cell - 1) / cell);
}

} // namespace midiupdate
