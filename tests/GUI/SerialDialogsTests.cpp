#include "DevicesPageSupport.h"

#include "ModalDialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QSpinBox>

namespace {

// The texts the settings files hold, in the order the lists offer them.
const QStringList BaudRates = {"Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
                               "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};

class SerialDialogsTest : public DevicesPageTest
{
protected:
    void SetUp() override
    {
        DevicesPageTest::SetUp();
        for (const char* file : {"DEVICE1.xml", "DEVICE2.xml"})
            WriteDeviceFile(file, [file](TVitrelleDeviceSettings& s) {
                const QString tag = QString::fromLatin1(file).left(7);
                s.ControlSettings().ComSettings.Port = "/dev/vitrelle-" + tag;
                s.ControlSettings().ComSettings.BaudRate = br19200;
                s.ControlSettings().ComSettings.Parity = prEven;
                s.ControlSettings().ComSettings.TimeOutConstant = 100;
                s.ControlSettings().ComSettings.TimeOutPerChar = 5;
                s.ControlSettings().PowerOn = tag + "-ON#13";
                s.ControlSettings().PowerStatusOff = "#6OFF";
            });
        OpenPage();
    }

    // Opens the tab's dialog; answer sees it as the operator would and gives its result.
    void OpenDialog(const QString& button, std::function<int(QDialog&)> answer)
    {
        bool answered = false;
        TModal::SetNextDialogAnswer([&](QDialog& dialog) {
            answered = true;
            return answer(dialog);
        });
        Click(button);
        EXPECT_TRUE(answered);
    }
    template <class T> static T* In(QDialog& dialog, const char* name)
    {
        auto* control = dialog.findChild<T*>(QLatin1String(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
};

TEST_F(SerialDialogsTest, TheSerialDialogShowsTheStoredValuesAndTheListsOfTheSettingsFiles)
{
    OpenDialog("btnComSettings0", [](QDialog& dialog) {
        // A port that is not on the machine now stays chosen.
        EXPECT_EQ(In<QComboBox>(dialog, "cbPort")->currentText(), "/dev/vitrelle-DEVICE1");
        auto* baud = In<QComboBox>(dialog, "cbBaudRate");
        QStringList rates;
        for (int i = 0; i < baud->count(); ++i)
            rates << baud->itemText(i);
        EXPECT_EQ(rates, BaudRates);
        EXPECT_EQ(baud->currentText(), "19200");
        const struct
        {
            const char* Name;
            QString First, Last, Current;
        } lists[] = {{"cbDataBits", "5", "8", "8"},
                     {"cbParity", "None", "Space", "Even"},
                     {"cbStopBits", "1", "2", "1"},
                     {"cbFlowControl", "Hardware", "Custom", "None"}};
        for (const auto& list : lists) {
            auto* box = In<QComboBox>(dialog, list.Name);
            EXPECT_EQ(box->itemText(0), list.First) << list.Name;
            EXPECT_EQ(box->itemText(box->count() - 1), list.Last) << list.Name;
            EXPECT_EQ(box->currentText(), list.Current) << list.Name;
        }
        EXPECT_EQ(In<QComboBox>(dialog, "cbStopBits")->itemText(1), "1.5");
        EXPECT_EQ(In<QSpinBox>(dialog, "SeTimeOutConstant")->value(), 100);
        EXPECT_EQ(In<QSpinBox>(dialog, "seTimeOutPerChar")->value(), 5);
        EXPECT_EQ(dialog.windowTitle(), "RS232 Port");
        return static_cast<int>(QDialog::Rejected);
    });
}

// Changing only the port is a change to apply and save; Apply hands it to the display's serial control.
TEST_F(SerialDialogsTest, ChangingOnlyThePortIsOfferedToApplyAndSave)
{
    OpenDialog("btnComSettings0", [](QDialog& dialog) {
        In<QComboBox>(dialog, "cbPort")->setEditText("/dev/ttyUSB7");
        return static_cast<int>(QDialog::Accepted);
    });
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_TRUE(SaveEnabled());
    Click("btnApplySettings");
    EXPECT_EQ(Agent().Devices(0).Control().ComPort().Port, "/dev/ttyUSB7");
    EXPECT_EQ(Agent().Devices(0).Control().ComPort().BaudRate, br19200);
}

struct TUnchangedCase
{
    const char* Name;
    const char* Button;
    std::function<int(QDialog&)> Answer;
};

class UnchangedTest : public SerialDialogsTest, public ::testing::WithParamInterface<TUnchangedCase>
{
};

// Cancelling after changing everything, or confirming without changing anything, leaves nothing to apply
// or save.
TEST_P(UnchangedTest, NothingIsOfferedToApplyOrSave)
{
    OpenDialog(GetParam().Button, GetParam().Answer);
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_FALSE(SaveEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, UnchangedTest,
    ::testing::Values(TUnchangedCase{"SerialCancelled", "btnComSettings0",
                                     [](QDialog& dialog) {
                                         for (auto* box : dialog.findChildren<QComboBox*>())
                                             box->setCurrentIndex(0);
                                         for (auto* spin : dialog.findChildren<QSpinBox*>())
                                             spin->setValue(1);
                                         return static_cast<int>(QDialog::Rejected);
                                     }},
                      TUnchangedCase{"SerialConfirmed", "btnComSettings1",
                                     [](QDialog&) { return static_cast<int>(QDialog::Accepted); }},
                      TUnchangedCase{"CommandsCancelled", "btnCommandSettings0",
                                     [](QDialog& dialog) {
                                         for (auto* edit : dialog.findChildren<QLineEdit*>())
                                             edit->setText("X Y");
                                         return static_cast<int>(QDialog::Rejected);
                                     }},
                      TUnchangedCase{"CommandsConfirmed", "btnCommandSettings0",
                                     [](QDialog&) { return static_cast<int>(QDialog::Accepted); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SerialDialogsTest, ASerialDialogOnADisplayWithoutPortChoosesNone)
{
    Fakes.Display->AddOutput("HDMI-2").Modes = {TSystemDisplayMode{1024, 768, 60, 32}};
    Fakes.Display->Output("HDMI-2").Current = TSystemDisplayMode{1024, 768, 60, 32};
    Fakes.Display->FireMonitorsChanged();
    Tabs()->setCurrentIndex(2);
    OpenDialog("btnComSettings2", [](QDialog& dialog) {
        EXPECT_EQ(In<QComboBox>(dialog, "cbPort")->currentIndex(), -1);
        EXPECT_EQ(In<QComboBox>(dialog, "cbPort")->currentText(), "");
        // A display without a settings file has the usual time-outs: with none, no reply would ever be read.
        EXPECT_EQ(In<QSpinBox>(dialog, "SeTimeOutConstant")->value(), 250);
        EXPECT_EQ(In<QSpinBox>(dialog, "seTimeOutPerChar")->value(), 20);
        return static_cast<int>(QDialog::Accepted);
    });
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_EQ(Agent().Devices(2).Settings().ControlSettings().ComSettings.Port, "");
}

// A time-out beyond its bound cannot be chosen: a slip of the finger must not hold a display's port for an
// hour at every command.
TEST_F(SerialDialogsTest, TimeOutsStayWithinTheirBounds)
{
    OpenDialog("btnComSettings0", [](QDialog& dialog) {
        auto* constant = In<QSpinBox>(dialog, "SeTimeOutConstant");
        auto* perChar = In<QSpinBox>(dialog, "seTimeOutPerChar");
        EXPECT_EQ(constant->minimum(), 0);
        EXPECT_EQ(constant->maximum(), TComSettings::MaxTimeOutConstant);
        EXPECT_EQ(perChar->minimum(), 0);
        EXPECT_EQ(perChar->maximum(), TComSettings::MaxTimeOutPerChar);
        constant->setValue(3600000);
        perChar->setValue(-5);
        return static_cast<int>(QDialog::Accepted);
    });
    Click("btnApplySettings");
    const TComSettings& applied = Agent().Devices(0).Settings().ControlSettings().ComSettings;
    EXPECT_EQ(applied.TimeOutConstant, TComSettings::MaxTimeOutConstant);
    EXPECT_EQ(applied.TimeOutPerChar, 0);
}

// Codes show as stored; what is typed is stored with its spaces and control characters in "#" notation.
TEST_F(SerialDialogsTest, CommandCodesShowAsStoredAndStoreTypedSpacesAsCodes)
{
    OpenDialog("btnCommandSettings0", [](QDialog& dialog) {
        EXPECT_EQ(In<QLineEdit>(dialog, "edPowerOnCode")->text(), "DEVICE1-ON#13");
        EXPECT_EQ(In<QLineEdit>(dialog, "edResponseStatusOffCode")->text(), "#6OFF");
        EXPECT_EQ(dialog.windowTitle(), "Control Commands");
        In<QLineEdit>(dialog, "edPowerOnCode")->setText("PON ON");
        return static_cast<int>(QDialog::Accepted);
    });
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_TRUE(SaveEnabled());
    OpenDialog("btnCommandSettings0", [](QDialog& dialog) {
        EXPECT_EQ(In<QLineEdit>(dialog, "edPowerOnCode")->text(), "PON#32ON");
        return static_cast<int>(QDialog::Rejected);
    });

    // The one dialog, opened for the second display, shows that display's codes.
    Tabs()->setCurrentIndex(1);
    OpenDialog("btnCommandSettings1", [](QDialog& dialog) {
        EXPECT_EQ(In<QLineEdit>(dialog, "edPowerOnCode")->text(), "DEVICE2-ON#13");
        return static_cast<int>(QDialog::Rejected);
    });
    Click("btnApplySettings");
    Tabs()->setCurrentIndex(0);
    Click("btnApplySettings");
    EXPECT_EQ(Agent().Devices(0).Settings().ControlSettings().PowerOn, "PON#32ON");
}

} // namespace
