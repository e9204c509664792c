// File tools of the frame store: every file operation of the store goes
// through this stateless helper. The engine makes one when it is created and
// keeps it for its life. Its operations arrive together with the store.
#pragma once

namespace ravelon {

class QvFsTools {};

}  // namespace ravelon
