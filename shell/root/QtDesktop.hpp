#pragma once

#include <memory>

#include "Kestrune/phone/images/FileManagerFolder.hpp"
#include "shell/settings/ApplicationSettings.hpp"

namespace kestrune {

class SerialQueue;

// The desktop's side of the settings window on Linux: Qt prompts, GNOME's animation switch (else
// Qt's effects setting) and the file manager's first question on a queue of its own
// ("Kestrune.FileManagerPriming"), since the asker blocks its caller. GUI thread only;
// `fileManager` outlives it.
class QtDesktop final : public SettingsDesktop {
  public:
    // The file manager's first answer is only wanted for its side effect; never wait long for it.
    static constexpr std::chrono::milliseconds kPrimingTimeout{2000};

    explicit QtDesktop(FileManagerFolder::SerialAsker& fileManager);
    // Joins the priming queue, whose question in flight uses the asker.
    ~QtDesktop() override;
    QtDesktop(const QtDesktop&) = delete;
    QtDesktop& operator=(const QtDesktop&) = delete;

    void confirmRemoval(const std::string& title, const std::string& message,
                        std::function<void(bool)> completion) override;
    void alert(const std::string& title, const std::string& message) override;
    void primeFileManagerAccess() override;
    bool reducesMotion() const override;

  private:
    FileManagerFolder::SerialAsker& fileManager_;
    std::unique_ptr<SerialQueue> priming_;
};

}  // namespace kestrune
