#pragma once

#include "FleetSettings.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// The Fleet tab of the Settings page: how this kiosk reaches the fleet's broker. It shows and edits a
// TFleetSettings; the page keeps the copies. Below the edits, why the settings would be refused (plain MQTT
// to another machine without "Allow insecure", ...), as the operator types.
//
// Threads: main thread.
class TFleetTab : public QWidget
{
    Q_OBJECT
public:
    explicit TFleetTab(QWidget* parent = nullptr);

    // Fills the edits without emitting Changed.
    void Fill(const TFleetSettings& settings);
    TFleetSettings Values() const;

Q_SIGNALS:
    // An edit changed.
    void Changed();

private:
    void ShowProblem();

    bool FFilling = false;
    QLineEdit* edFleetHost = nullptr;
    QSpinBox* edFleetPort = nullptr;
    QLineEdit* edFleetSite = nullptr;
    QLineEdit* edFleetKioskId = nullptr;
    QLineEdit* edFleetUser = nullptr;
    QLineEdit* edFleetPassword = nullptr;
    QLineEdit* edFleetCaFile = nullptr;
    QLineEdit* edFleetCertFile = nullptr;
    QLineEdit* edFleetKeyFile = nullptr;
    QCheckBox* cbFleetAllowInsecure = nullptr;
    QLabel* lblFleetProblem = nullptr;
};
