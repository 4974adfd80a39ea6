// A Qt window with a plain-text editor that reports what it received. Commands on standard input,
// one per line; answers on standard output, one line each:
//   text        -> the editor's text as hex-encoded UTF-8 ("-" when empty)
//   keys        -> every key press seen as Qt key combination values, comma-separated ("-" when
//                  none)
//   clear       -> "ok" after emptying the editor and the key list
//   focused     -> "yes" when the window is active and the editor has the keyboard focus
//   setclip T=HEX[,T=HEX…] -> "ok" once the clipboard holds those MIME types and data
//   lag MS      -> "ok"; the next V key keeps the GUI thread busy for MS milliseconds before it
//                  is handled, as a busy application reads a paste late
// At start it prints "ready <window id>".
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>
#include <iostream>
#include <string>
#include <utility>

namespace {

class Editor : public QPlainTextEdit {
  public:
    QStringList keys;
    qint64 lagMilliseconds = 0;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_V) {
            const qint64 lag = std::exchange(lagMilliseconds, 0);
            QElapsedTimer busy;
            busy.start();
            while (busy.elapsed() < lag) {
            }
        }
        keys << QString::number(event->keyCombination().toCombined());
        QPlainTextEdit::keyPressEvent(event);
    }
};

QByteArray hex(const QString& text) {
    return text.isEmpty() ? QByteArray("-") : text.toUtf8().toHex();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Editor editor;
    editor.setWindowTitle("murrelo-qt-receiver");
    editor.resize(600, 400);
    editor.setLineWrapMode(QPlainTextEdit::NoWrap);
    editor.show();
    editor.setFocus();

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[65536];
        ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            QString line = QString::fromStdString(pending.substr(0, end));
            pending.erase(0, end + 1);
            if (line == "text") {
                std::cout << hex(editor.toPlainText()).constData() << std::endl;
            } else if (line == "keys") {
                std::cout << (editor.keys.isEmpty() ? "-" : editor.keys.join(',').toStdString())
                          << std::endl;
            } else if (line == "focused") {
                std::cout << (editor.isActiveWindow() && editor.hasFocus() ? "yes" : "no")
                          << std::endl;
            } else if (line == "clear") {
                editor.clear();
                editor.keys.clear();
                std::cout << "ok" << std::endl;
            } else if (line.startsWith("lag ")) {
                editor.lagMilliseconds = line.mid(4).toLongLong();
                std::cout << "ok" << std::endl;
            } else if (line.startsWith("setclip ")) {
                auto* data = new QMimeData;
                for (const QString& item : line.mid(8).split(',')) {
                    auto type = item.section('=', 0, 0);
                    auto bytes = QByteArray::fromHex(item.section('=', 1).toLatin1());
                    if (type == "text/plain") {
                        data->setText(QString::fromUtf8(bytes));
                    } else {
                        data->setData(type, bytes);
                    }
                }
                QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
                std::cout << "ok" << std::endl;
            } else {
                std::cout << "unknown" << std::endl;
            }
        }
    });

    QTimer::singleShot(0, [&] { std::cout << "ready " << editor.winId() << std::endl; });
    return app.exec();
}
