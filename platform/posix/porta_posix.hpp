// What the POSIX wait needs to know of the port beyond poll's answer.
#pragma once

namespace plat {

// True when the line behind the port descriptor is gone though poll may not
// say so yet: a read or write on it failed with EIO, ENXIO or ENODEV, or its
// device node has been removed.
bool porta_falhou(int fd);

}  // namespace plat
