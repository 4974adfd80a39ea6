#include "shell/common/ClosingWindow.hpp"

#include <QCloseEvent>

namespace kestrune {

void ClosingWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClose) onClose();
}

}  // namespace kestrune
