#pragma once

#include <functional>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Support/Result.hpp"

class QDBusConnection;

namespace kestrune {

// What the running application does for each call of its control interface. A call whose part
// is missing from this build answers with a failure text; it is never reported as done.
struct ControlHandlers {
    using Outcome = Result<void, std::string>;
    struct LinkFailure {
        std::string message;
    };
    using LinkReply = std::function<void(Result<std::string, LinkFailure>)>;

    std::function<void()> sendClipboardToPhone;
    // True while Phone Connection is on, or starting and not told to stop once up.
    std::function<bool()> phoneConnection;
    // Both answer with the state they lead to, once a stopping server has stopped.
    using StateReply = std::function<void(bool on)>;
    std::function<void(bool on, StateReply)> setPhoneConnection;
    std::function<void(StateReply)> togglePhoneConnection;
    // Shows the pairing window; answers with the link once its code is on screen.
    std::function<void(LinkReply)> showPairing;
    std::function<Outcome()> dictationPress;
    std::function<Outcome()> dictationRelease;
    std::function<Outcome()> toggleDictation;
    std::function<Outcome()> openSettings;
    std::function<Outcome()> showWelcome;
    std::function<void()> quit;
};

// The interface zz.holvanis.murrelo.Control at /zz/holvanis/murrelo on the session bus, with its
// PhoneConnection property. Registering the object comes before claiming the bus name, so a
// second instance that finds the name finds the object too. GUI thread only.
class ControlService {
  public:
    explicit ControlService(ControlHandlers handlers);
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
