#pragma once

#include "Kestrune/phone/images/FileManagerFolder.hpp"

namespace kestrune {

// Asks the session's file manager (org.freedesktop.FileManager1) for the location of its most
// recently focused window. Blocking, at most FileManagerFolder::kCallTimeout; meant to run as the
// SerialAsker's question, never on the main thread.
FileManagerFolder::Answer askFileManagerFrontWindow();

}  // namespace kestrune
