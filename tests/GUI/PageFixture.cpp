#include "PageFixture.h"

#include "ActionList.h"
#include "MessageBox.h"
#include "RepositoryTestSupport.h"
#include "VitrelleCenterSettings.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>

#include <stdexcept>

void PageTest::SetUp()
{
    TVitrelleCenterSettings settings(App.Path());
    Server.Configure(settings.HttpSettings());
    settings.Save();
    const QByteArray types =
        ReadFileBytes(TestDataPath("repository/Types.xml")).replace("{server}", Server.BaseUrl().toUtf8());
    App.Write("Templates/Types.xml", types);
    for (const char* name : {"Photo.xsl", "Text.xsl"})
        App.Write(QStringLiteral("Templates/") + name,
                  ReadFileBytes(TestDataPath(QStringLiteral("player/") + name)));
    for (const char* name : {"VitrelleList.xml", "17.xml", "gallery.xml"}) {
        const QString path = QString::fromLatin1(name) == "VitrelleList.xml"
                                 ? QStringLiteral("/list/%1")
                                 : QStringLiteral("/vitrelles/%1");
        Server.SetFile(path.arg(QString::fromLatin1(name)),
                       ReadFileBytes(TestDataPath(QStringLiteral("repository/") + name)));
    }
    for (const char* path : {"/media/p1.jpg", "/media/p2.jpg", "/templates/Text/t.png",
                             "/templates/Photo/style.css", "/templates/Text/text.css"})
        Server.SetFile(path, QByteArray("content of ") + path);

    auto& hdmi = Fakes.Display->AddOutput("HDMI-1");
    hdmi.Geometry = QRect(0, 0, 1920, 1080);
    hdmi.Modes = {TSystemDisplayMode{1920, 1080, 60, 32}, TSystemDisplayMode{1280, 720, 60, 32},
                  TSystemDisplayMode{1024, 768, 60, 32}};
    hdmi.Current = hdmi.Modes.front();
    auto& dp = Fakes.Display->AddOutput("DP-1");
    dp.Geometry = QRect(1920, 0, 1280, 1024);
    dp.Modes = {TSystemDisplayMode{1280, 1024, 60, 32}};
    dp.Current = dp.Modes.front();
}

void PageTest::TearDown()
{
    CurrentPage = nullptr;
    Form.reset();
    FAgent.reset();
}

TfrmVitrelleCenter& PageTest::OpenForm()
{
    TAgentPlatform platform = Fakes.Agent();
    platform.Errors = std::make_shared<TMessageBoxErrorPresenter>(); // the program's own error box
    if (SerialPorts)
        platform.SerialPorts = SerialPorts;
    FAgent = CreateAgent(App.Path(), platform);
    if (!FAgent) // the test ends here: it has no window to look at
        throw std::runtime_error("The agent did not start: " + LogText(Log));
    Form = std::make_unique<TfrmVitrelleCenter>(*FAgent);
    CurrentPage = Form->Page(TfrmVitrelleCenter::TPage::Devices);
    return *Form;
}

QWidget* PageTest::ShowPage(TfrmVitrelleCenter::TPage page)
{
    static const char* const buttons[] = {"sbDevices", "sbVitrelles", "sbSchedule", "sbSettings"};
    Control<QAbstractButton>(QString::fromLatin1(buttons[static_cast<int>(page)]), Form.get())->click();
    CurrentPage = Form->Page(page);
    EXPECT_NE(CurrentPage, nullptr);
    return CurrentPage;
}

void PageTest::Idle()
{
    for (TActionList* list : Form->findChildren<TActionList*>())
        list->UpdateAll();
    QCoreApplication::processEvents();
}

void PageTest::Click(QAbstractButton* button)
{
    ASSERT_NE(button, nullptr);
    button->window()->show();
    for (QWidget* widget = button; widget->parentWidget() != nullptr; widget = widget->parentWidget())
        if (qobject_cast<QStackedWidget*>(widget->parentWidget()) != nullptr)
            if (auto* tabs = qobject_cast<QTabWidget*>(widget->parentWidget()->parentWidget()))
                tabs->setCurrentWidget(widget);
    Idle(); // the operator's click comes after an idle moment: the button shows its state
    QTest::mouseClick(button, Qt::LeftButton);
    Idle();
}
