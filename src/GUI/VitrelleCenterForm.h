#pragma once

#include "VitrelleCenterAgent.h"

#include <QWidget>

#include <memory>

class QFrame;
class QToolButton;
class QButtonGroup;
class QStackedLayout;
class TPageEvents;

// The operator's main window: four page buttons along the top (Devices, Vitrelles, Schedule, Settings) and
// the page area below. Creating the window creates and starts the agent; destroying it frees the agent.
// Closing it is the operator's way to end the program: it says so with Closed, and the program ends whole,
// slide windows included (a show without its operator window could neither be seen to nor restarted).
class TfrmVitrelleCenter : public QWidget
{
    Q_OBJECT
public:
    enum class TPage
    {
        Devices,
        Vitrelles,
        Schedule,
        Settings
    };

    TfrmVitrelleCenter(const QString& appFolder, TAgentPlatform platform, QWidget* parent = nullptr);
    ~TfrmVitrelleCenter() override;

    // True when the agent's start-up failed (its error was already shown); the program then ends with 1.
    bool StartupFailed() const { return !FAgent; }
    TVitrelleCenterAgent* Agent() const { return FAgent.get(); }
    // The page, or null while it has not been asked for.
    QWidget* Page(TPage page) const;
    TPageEvents& PageEvents() const { return *FPageEvents; }

Q_SIGNALS:
    // The operator has closed the window.
    void Closed();

public Q_SLOTS:
    void sbDevicesClick();
    void sbVitrellesClick();
    void sbScheduleClick();
    void sbSettingsClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    QToolButton* AddPageButton(const QString& name, const QString& caption, int left, int iconKind);
    void FormCreate(const QString& appFolder, TAgentPlatform platform);
    void FormDestroy();
    void ShowPage(TPage page);
    QWidget*& PageField(TPage page);
    QWidget* CreatePage(TPage page);

    std::unique_ptr<TVitrelleCenterAgent> FAgent;
    QWidget* FDevicesPage = nullptr;
    QWidget* FVitrellesPage = nullptr;
    QWidget* FSchedulePage = nullptr;
    QWidget* FSettingsPage = nullptr;
    TPageEvents* FPageEvents = nullptr;

    QFrame* TopPanel = nullptr;
    QToolButton* sbDevices = nullptr;
    QToolButton* sbVitrelles = nullptr;
    QToolButton* sbSchedule = nullptr;
    QToolButton* sbSettings = nullptr;
    QButtonGroup* FPageButtons = nullptr;
    QFrame* MainPanel = nullptr;
    QStackedLayout* FPageStack = nullptr;
};
