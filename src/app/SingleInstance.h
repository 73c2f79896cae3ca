#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

// The marker that tells a starting copy that Vindrel already runs: a local socket with a per-user name
// built from the marker GUID. A second copy connects and sends 9527; the first activates its window.
inline constexpr int kInstanceMarkerValue = 9527;

// The per-user socket name (in the temporary folder, so TMPDIR moves it).
QString InstanceMarkerName();

// Connects to a running copy's marker and asks it to come forward. True when a copy was found.
bool ActivateRunningCopy(const QString& name, int timeoutMs = 1000);

// Owned by the main window from its initialisation until it closes.
class InstanceMarker : public QObject {
    Q_OBJECT
  public:
    // onActivate runs on the GUI thread each time a second copy asks.
    InstanceMarker(const QString& name, std::function<void()> onActivate, QObject* parent = nullptr);
    ~InstanceMarker() override;

    bool listening() const;

  private:
    void OnNewConnection();

    QLocalServer* m_server = nullptr;
    std::function<void()> m_onActivate;
};
