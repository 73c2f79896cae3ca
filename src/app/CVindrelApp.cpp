#include "app/CVindrelApp.h"

#include "app/CVindrelDlg.h"
#include "app/DemoCamera.h"
#include "app/SingleInstance.h"
#include "platform/DebugPrint.h"
#include "platform/UniqueFd.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <sys/socket.h>

#ifndef VINDREL_VERSION
#define VINDREL_VERSION "0"
#endif

bool SocketsAvailable() {
    const UniqueFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return probe.valid();
}

namespace {

void ShowStartupMessage(const QString& text) {
    QMessageBox::warning(nullptr, QFileInfo(QCoreApplication::applicationFilePath()).fileName(), text);
}

} // namespace

CVindrelApp::CVindrelApp(AppOptions options, QString instanceName, Hooks hooks)
    : m_options(std::move(options)), m_instanceName(std::move(instanceName)), m_hooks(std::move(hooks)) {
    if (!m_hooks.socketsAvailable)
        m_hooks.socketsAvailable = SocketsAvailable;
    if (!m_hooks.showMessage)
        m_hooks.showMessage = ShowStartupMessage;
}

CVindrelApp::~CVindrelApp() = default;

int CVindrelApp::InitInstance() {
    if (!m_instanceName.isEmpty() && ActivateRunningCopy(m_instanceName)) {
        DebugPrint("Vindrel already runs; brought it forward");
        return 0;
    }
    if (!m_hooks.socketsAvailable()) {
        m_hooks.showMessage(QStringLiteral("Windows 套接字初始化失败。"));
        return 1;
    }

    CVindrelDlg::Options window;
    if (m_options.demo) {
        m_demo = std::make_unique<DemoCamera>();
        if (!m_demo->Start()) {
            std::fprintf(stderr, "vindrel: the demo camera could not start\n");
            return 1;
        }
        window.link = m_demo->Link();
    } else if (!m_options.cameraHost.empty()) {
        window.link = FixedCameraConfig(m_options.cameraHost, m_options.family);
    }
    window.instanceName = m_instanceName;

    CVindrelDlg dialog(std::move(window));
    dialog.show();
    if (m_options.demo)
        QTimer::singleShot(0, &dialog, &CVindrelDlg::OnBnClickedStart);
    if (m_hooks.windowShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] { m_hooks.windowShown(dialog); });
    dialog.exec();
    // The window stopped its client when it closed; the simulator can go now.
    m_demo.reset();
    return 0;
}

int RunVindrel(int argc, char** argv) {
    std::vector<std::string> raw(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Help and version need no display, so they are answered before Qt starts.
    for (const std::string& arg : raw) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-v") {
            std::printf("Vindrel %s\n", VINDREL_VERSION);
            return 0;
        }
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vindrel"));
    QApplication::setApplicationVersion(QStringLiteral(VINDREL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("vindrel"));

    // Qt has taken its own options out of argv by now.
    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    const AppOptions options = ParseCommandLine(args);
    if (!options.error.empty()) {
        std::fprintf(stderr, "vindrel: %s\n\n%s", options.error.c_str(), UsageText().c_str());
        return 2;
    }

    CVindrelApp app(options, InstanceMarkerName());
    return app.InitInstance();
}
