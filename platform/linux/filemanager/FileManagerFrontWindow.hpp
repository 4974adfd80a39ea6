#pragma once

#include "Kestrune/phone/images/FinderFrontFolder.hpp"

namespace kestrune {

// Asks the session's file manager (org.freedesktop.FileManager1) for the location of its most
// recently focused window. Blocking, at most FinderFrontFolder::kCallTimeout; meant to run as the
// SerialAsker's question, never on the main thread.
FinderFrontFolder::Answer askFileManagerFrontWindow();

}  // namespace kestrune
