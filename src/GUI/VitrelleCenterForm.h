#pragma once

#include "VitrelleCenterAgent.h"

#include <QWidget>

class QFrame;
class QToolButton;
class QButtonGroup;
class QStackedLayout;

// The operator's main window: four page buttons along the top (Devices, Vitrelles, Schedule, Settings) and
// the page area below, on a started agent that its maker (main) owns and frees after the window; the pages
// hear of the agent's changes through its notifier. Closing it is the operator's way to end the program: it
// says so with Closed, and the program ends whole, slide windows included (a show without its operator
// window could neither be seen to nor restarted). Where it appears is its shower's choice. Main thread.
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

    // Opens on the Devices page.
    explicit TfrmVitrelleCenter(TVitrelleCenterAgent& agent, QWidget* parent = nullptr);
    ~TfrmVitrelleCenter() override;

    TVitrelleCenterAgent& Agent() const { return FAgent; }
    // The page, or null while it has not been asked for.
    QWidget* Page(TPage page) const;

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
    // A button of the row along the top, after those made before it.
    QToolButton* AddPageButton(const QString& name, const QString& caption, int iconKind);
    void ShowPage(TPage page);
    QWidget*& PageField(TPage page);
    QWidget* CreatePage(TPage page);

    TVitrelleCenterAgent& FAgent;
    QWidget* FDevicesPage = nullptr;
    QWidget* FVitrellesPage = nullptr;
    QWidget* FSchedulePage = nullptr;
    QWidget* FSettingsPage = nullptr;

    QFrame* TopPanel = nullptr;
    QToolButton* sbDevices = nullptr;
    QToolButton* sbVitrelles = nullptr;
    QToolButton* sbSchedule = nullptr;
    QToolButton* sbSettings = nullptr;
    QButtonGroup* FPageButtons = nullptr;
    QFrame* MainPanel = nullptr;
    QStackedLayout* FPageStack = nullptr;
};
