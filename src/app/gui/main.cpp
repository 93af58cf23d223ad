// brisko-cleaner: the desktop program. Our own options (--machine DIR) come
// first; the program's switches ("/Auto", "/Clear", "/Regdefrag",
// "/Regscan FILE") follow as a Windows user of it would type them.
#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include "core/machine/win32/win32_machine.h"
#include "ui/windows_messages_win32.h"
#else
#include "core/machine/image/image_machine.h"
#include "demo/demo_machine.h"
#endif
#include "core/messages.h"
#include "core/startup.h"
#include "ui/main_window.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNoMachine = 3;

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// "/Auto" is not one of them: it lives in the tray of the user's desktop and
// asks its questions there.
bool unattendedSwitch(brisko::StartSwitch sw) {
    return brisko::isUnattendedSwitch(sw);
}

// Without a display the offscreen platform warns about window features it
// lacks; that says nothing to the person reading an unattended run's output.
QtMessageHandler previousHandler = nullptr;
void quietOffscreenWarnings(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (type == QtWarningMsg && (msg.contains(QLatin1String("This plugin does not support")) ||
                                 msg.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))))
        return;
    if (previousHandler) previousHandler(type, context, msg);
}

void reportError(const std::string& message, bool showBox) {
    std::cerr << "brisko-cleaner: " << message << std::endl;
    if (!showBox) return;
    QMessageBox box(QMessageBox::Critical,
                    QString::fromUtf8(brisko::kProgramTitle.data(), brisko::kProgramTitle.size()),
                    QString::fromStdString(message), QMessageBox::Ok);
    box.exec();
}

}  // namespace

int main(int argc, char** argv) {
    // The switch decides the platform, and the platform must be chosen before
    // the application object exists.
    brisko::StartArgs start;
    try {
        start = brisko::parseStartArgs(argc, argv);
    } catch (const brisko::StartArgsError& e) {
        std::cerr << "brisko-cleaner: " << e.message << "\n"
                  << "usage: brisko-cleaner [--machine DIR] [/Auto | /Clear | /Regdefrag | "
                     "/Regscan FILE]"
                  << std::endl;
        return kExitUsage;
    }

    // The machine decides which switches act (the registry ones need an NT
    // registry), and that decides the platform, which must be chosen before
    // the application object exists. A machine that cannot be opened is
    // reported once there is one.
    std::string openError;
#ifdef _WIN32
    std::unique_ptr<brisko::win32::Win32Machine> machine;
    // The Windows build works on the running system.
    if (!start.machineDir.empty())
        openError = "This build works on the running Windows only; open the machine folder \"" +
                    start.machineDir + "\" with the Linux build.";
    else
        machine = std::make_unique<brisko::win32::Win32Machine>();
#else
    std::unique_ptr<brisko::ImageMachine> machine;
    try {
        std::filesystem::path folder = brisko::chooseMachineFolder(start.machineDir);
        machine = std::make_unique<brisko::ImageMachine>(folder);
    } catch (const brisko::MachineOpenError& e) {
        openError = e.message;
    } catch (const std::exception& e) {
        openError = e.what();
    }
#endif
    const brisko::StartSwitch acting =
        machine ? brisko::effectiveStartSwitch(start.startSwitch(),
                                               brisko::WindowsVersionCode(machine->version()))
                : start.startSwitch();
    const bool unattended = unattendedSwitch(acting);
#ifdef _WIN32
    bool noDisplay = false;  // Windows always has its desktop
#else
    bool noDisplay = !envSet("DISPLAY") && !envSet("WAYLAND_DISPLAY");
#endif
    // Unattended runs never show a window, so they need no display at all; a
    // user who chose a platform explicitly keeps it for interactive starts.
    if (noDisplay && !unattended && !envSet("QT_QPA_PLATFORM")) {
        // An interactive start would wait unseen for a user who cannot come.
        std::cerr << "brisko-cleaner: there is no display to show the window on (DISPLAY is not "
                     "set); without one only /Clear, /Regdefrag and /Regscan FILE run, or use "
                     "the brisko command."
                  << std::endl;
        return kExitUsage;
    }
    if (unattended) {
        if (noDisplay)
            std::cerr << "brisko-cleaner: no display; running offscreen until " << start.first()
                      << " is done" << std::endl;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        previousHandler = qInstallMessageHandler(quietOffscreenWarnings);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brisko Cleaner"));
    QApplication::setApplicationVersion(QStringLiteral("3.8"));
    QApplication::setOrganizationName(QStringLiteral("Brisko"));
    // The program ends when the main window says so, not when it is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    bool canShowBoxes = QGuiApplication::platformName() != QLatin1String("offscreen");

    // Qt has taken its own options (-platform, -style ...) out of the list by now.
    {
        std::vector<std::string> rest;
        const QStringList qtArgs = QApplication::arguments();
        for (qsizetype i = 1; i < qtArgs.size(); ++i) rest.push_back(qtArgs[i].toStdString());
        try {
            start = brisko::parseStartArgs(rest);
        } catch (const brisko::StartArgsError& e) {
            reportError(e.message, canShowBoxes);
            return kExitUsage;
        }
    }
    if (!machine) {
        reportError(openError, canShowBoxes);
        return kExitNoMachine;
    }
#ifndef _WIN32
    for (const std::string& w : machine->warnings()) std::cerr << "brisko-cleaner: " << w << "\n";
#endif

    int exitCode = 0;
    {
        brisko::TfrmMain window(*machine, start);
        QObject::connect(
            &window, &brisko::TfrmMain::terminated, &app,
            [](int code) { QCoreApplication::exit(code); }, Qt::QueuedConnection);
#ifdef _WIN32
        brisko::WindowsMessageBridge bridge(window.messageTarget(), machine->hotkeys());
#endif
        window.show();
        exitCode = app.exec();
    }
    // The window wrote its changes at close; anything after that is not lost either.
    if (!machine->registry().commit()) {
        std::cerr << "brisko-cleaner: the registry changes could not be written" << std::endl;
        if (exitCode == 0) exitCode = 1;
    }
    return exitCode;
}
