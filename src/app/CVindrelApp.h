#pragma once

#include "app/CommandLine.h"

#include <QString>

#include <functional>
#include <memory>

class CVindrelDlg;
class DemoCamera;

// The program: the single-instance guard, the socket check, and the main window run to its end.
class CVindrelApp {
  public:
    // What start-up asks of the system; tests replace them.
    struct Hooks {
        std::function<bool()> socketsAvailable;
        std::function<void(const QString&)> showMessage;
        // Called with the main window once it is shown.
        std::function<void(CVindrelDlg&)> windowShown;
    };

    explicit CVindrelApp(AppOptions options, QString instanceName, Hooks hooks = {});
    ~CVindrelApp();
    CVindrelApp(const CVindrelApp&) = delete;
    CVindrelApp& operator=(const CVindrelApp&) = delete;

    // Runs until the main window closes. Returns the process's exit code: 0, or 1 when the program
    // could not start.
    int InitInstance();

  private:
    AppOptions m_options;
    QString m_instanceName;
    Hooks m_hooks;
    std::unique_ptr<DemoCamera> m_demo;
};

// Whether this process can create a socket at all.
bool SocketsAvailable();

// The whole program, for main().
int RunVindrel(int argc, char** argv);
