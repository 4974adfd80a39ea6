#pragma once

#include <functional>
#include <string>

#include "KestruneRemoteKit/Support/Observers.hpp"

namespace kestrune::tray {

// What Phone Connection's windows showed, for those waiting on it: the link a pairing window drew
// as its code, and the text of an alert. The windows are made before anyone who waits on them
// exists, so they report here and the waiting side observes. Main thread only.
class PhoneWindowReports {
  public:
    void linkShown(const std::string& link) { links_.notify(link); }
    void alertShown(const std::string& text) { alerts_.notify(text); }

    Subscription observeLinks(std::function<void(const std::string& link)> observer) {
        return links_.add(std::move(observer));
    }
    Subscription observeAlerts(std::function<void(const std::string& text)> observer) {
        return alerts_.add(std::move(observer));
    }

  private:
    Observers<std::string> links_;
    Observers<std::string> alerts_;
};

}  // namespace kestrune::tray
