#pragma once

#include "ControlLookup.h"
#include "LogCapture.h"
#include "TestContentServer.h"
#include "TestFiles.h"
#include "TestPlatform.h"
#include "VitrelleCenterForm.h"

#include <gtest/gtest.h>

#include <memory>

class QAbstractButton;

// The operator's window on an application folder in a temporary folder: settings pointing at the test
// content server (list "Lobby" 17 and "Gallery", with their files and media), the player's test templates,
// two simulated displays HDMI-1 (1920x1080, three modes) and DP-1 (1280x1024), fake slide views, and the
// program's own message boxes, answered by the tests through TMessageBox and TModal.
class PageTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the agent and opens the window on the Devices page; fails the test when the start-up fails.
    TfrmVitrelleCenter& OpenForm();
    // Presses the page's button and gives the page.
    QWidget* ShowPage(TfrmVitrelleCenter::TPage page);

    // The control by name below the container (the page by default); fails the test when it is missing or
    // of another kind.
    template <class TControl> TControl* Control(const QString& name, QWidget* container = nullptr)
    {
        QWidget* found = FindControlByName(container != nullptr ? container : CurrentPage, name);
        auto* control = qobject_cast<TControl*>(found);
        EXPECT_NE(control, nullptr) << "no control " << name.toStdString() << " of the kind asked for";
        return control;
    }
    // Lets the window's actions work out their state, as an idle moment does.
    void Idle();
    // Clicks as the operator does: after an idle moment (the button shows its state), with the button's tab
    // in front, the click delivered through the application (so that an error of its handler reaches the
    // error boundary, not the test), then another idle moment.
    void Click(QAbstractButton* button);

    TVitrelleCenterAgent& Agent() const { return *FAgent; }

    TTempFolder App;
    TTestContentServer Server;
    TLogCapture Log{3, false}; // the agent initialises the log itself
    TTestPlatform Fakes = TestPlatform();
    // When set before OpenForm, the agent opens its serial lines with this instead of Fakes.SerialPorts (the
    // machine's ports, for a display on a pseudo-terminal).
    std::shared_ptr<const ISerialPortFactory> SerialPorts;
    // The window goes before the agent, as in the program.
    std::unique_ptr<TVitrelleCenterAgent> FAgent;
    std::unique_ptr<TfrmVitrelleCenter> Form;
    QWidget* CurrentPage = nullptr;
};
