#include "ui/qt_prompter.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>
#include <iostream>
#include <mutex>
#include <string>

namespace brisko {

namespace {

QMessageBox::Icon iconFor(unsigned flags) {
    switch (flags & 0xf0) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

const char* answerName(int answer) {
    switch (answer) {
        case IDOK:
            return "OK";
        case IDCANCEL:
            return "Cancel";
        case IDYES:
            return "Yes";
        case IDNO:
            return "No";
        default:
            return "?";
    }
}

}  // namespace

std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, std::string_view text,
                                            unsigned flags) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QString::fromUtf8(kProgramTitle.data(), qsizetype(kProgramTitle.size())));
    box->setText(QString::fromUtf8(text.data(), qsizetype(text.size())));
    box->setIcon(iconFor(flags));
    QMessageBox::StandardButton first = QMessageBox::Ok, second = QMessageBox::NoButton;
    QMessageBox::StandardButton escape = QMessageBox::Ok;
    switch (flags & 0xf) {
        case MB_OKCANCEL:
            box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            second = escape = QMessageBox::Cancel;
            break;
        case MB_YESNO:
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            first = QMessageBox::Yes;
            second = escape = QMessageBox::No;
            break;
        case MB_YESNOCANCEL:
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            first = QMessageBox::Yes;
            second = QMessageBox::No;
            escape = QMessageBox::Cancel;
            break;
        default:
            box->setStandardButtons(QMessageBox::Ok);
            break;
    }
    box->setDefaultButton((flags & MB_DEFBUTTON2) && second != QMessageBox::NoButton ? second
                                                                                     : first);
    box->setEscapeButton(escape);
    return box;
}

int answerFor(QMessageBox::StandardButton button, unsigned flags) {
    switch (button) {
        case QMessageBox::Ok:
            return IDOK;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        default:
            // Closed without a button: what Escape would have answered.
            switch (flags & 0xf) {
                case MB_OKCANCEL:
                case MB_YESNOCANCEL:
                    return IDCANCEL;
                case MB_YESNO:
                    return IDNO;
                default:
                    return IDOK;
            }
    }
}

QtPrompter::QtPrompter(QWidget* parent) : parent_(parent) {}

bool QtPrompter::headless() const {
    if (unattended_) return true;
    // Without a GUI application there is no box to show at all.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return true;
    if (alwaysAsk_) return false;
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

int QtPrompter::ask(std::string_view text, unsigned flags) {
    if (headless()) {
        int answer = defaultAnswer(flags);
        // Workers may ask side by side; keep each exchange on its own lines.
        static std::mutex logMutex;
        std::lock_guard lock(logMutex);
        std::cerr << kProgramTitle << ": " << text << "\n  -> " << answerName(answer)
                  << " (no one to ask)" << std::endl;
        return answer;
    }
    auto* app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread()) return askOnUiThread(text, flags);
    // The worker waits here until the user has answered on the UI thread.
    std::string copy(text);
    int answer = defaultAnswer(flags);
    QMetaObject::invokeMethod(
        app, [this, &copy, flags] { return askOnUiThread(copy, flags); },
        Qt::BlockingQueuedConnection, &answer);
    return answer;
}

int QtPrompter::askOnUiThread(std::string_view text, unsigned flags) {
    auto box = makeMessageBox(parent_.data(), text, flags);
    box->exec();
    auto* clicked = box->clickedButton();
    auto button = clicked ? box->standardButton(clicked) : QMessageBox::NoButton;
    return answerFor(button, flags);
}

}  // namespace brisko
