#pragma once

#include <memory>

class QDBusConnection;

namespace kestrune {

namespace tray {
class ControlAnswers;
}

// The interface zz.holvanis.murrelo.Control at /zz/holvanis/murrelo on the session bus, with its
// PhoneConnection property: each call and property is handed to the answers, and their reply is
// sent back as the bus expects it. Registering the object comes before claiming the bus name, so
// a second instance that finds the name finds the object too. GUI thread only; `answers` outlives
// the service.
class ControlService {
  public:
    explicit ControlService(tray::ControlAnswers& answers);
    ~ControlService();
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    enum class Claim { owned, alreadyRunning, noBus };
    // Registers the object, then asks for the name; `alreadyRunning` when another instance has it.
    Claim claim(QDBusConnection& bus);

    class Object;

  private:
    std::unique_ptr<Object> object_;
    bool registered_ = false;
};

}  // namespace kestrune
