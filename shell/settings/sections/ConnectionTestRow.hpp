#pragma once

#include <functional>
#include <string>

#include <QWidget>

#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

class QLabel;
class QPushButton;

namespace kestrune {

// A service form's "Test" button and the line beside it: "Testing…" while the test runs, then
// its outcome, green after a success. Both the refinement form and the transcription form have
// one. GUI thread only.
class ConnectionTestRow final : public QWidget {
  public:
    using Outcome = Result<void, std::string>;

    // What differs between the forms.
    class Form {
      public:
        using Test = std::function<void(std::function<void(Outcome)> done)>;

        virtual ~Form() = default;
        // A test of the service with the fields as they are shown now, drafts included; `done`
        // runs on the GUI thread. Empty when the window was given none: the button does nothing.
        virtual Test test() const = 0;
        // The line beside the button, from the last test's result (empty before any test).
        virtual std::string statusLine(const std::string& testResult) const { return testResult; }
    };

    struct Texts {
        // The object names of the line and of the button, by which tests find them.
        const char* statusName;
        const char* buttonName;
        // The result after a success.
        std::string success;
    };

    // `form` outlives the row.
    ConnectionTestRow(Form& form, Texts texts, QWidget* parent = nullptr);

    // Says the line again (the form changed).
    void updateStatus();

  private:
    void runTest();

    Form& form_;
    Texts texts_;
    QLabel* status_;
    QPushButton* button_;
    std::string testResult_;
    bool succeeded_ = false;
    Lifetime lifetime_;
};

}  // namespace kestrune
