// The rights that opening a board takes. On Windows the board's device opens only for a process
// with the administrator's rights: without them the driver refuses the open with "access
// denied", which the library reports as a device in use. The tool tells the two apart, for a
// run without the rights would otherwise be told to retry forever.
#pragma once

namespace vok::update {

// Whether this process has the rights to open a board's device: on Windows, whether it runs
// elevated; elsewhere always (the simulator's objects belong to the user who runs it).
bool has_board_rights();

// The check that the board loop uses; the tests put one of their own in its place.
extern bool (*board_rights)();

}  // namespace vok::update
