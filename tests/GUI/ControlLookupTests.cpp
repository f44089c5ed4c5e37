#include "ControlLookup.h"

#include <QFrame>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QWidget* Named(QWidget* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

TEST(FindControlByName, DepthFirstInChildOrder)
{
    QWidget form;
    auto* tabs = static_cast<QTabWidget*>(Named(new QTabWidget(&form), "pcDevices"));
    auto* page = new QWidget;
    tabs->addTab(page, "Device 1");
    auto* panel = Named(new QFrame(page), "pnlDevice0");
    auto* nested = Named(new QLineEdit(panel), "edName");
    auto* later = Named(new QLineEdit(&form), "edName"); // same name, later at the top level

    EXPECT_EQ(FindControlByName(&form, "edName"), nested);
    EXPECT_EQ(FindControlByName(&form, "pnlDevice0"), panel);
    EXPECT_EQ(FindControlByName(&form, "pcDevices"), tabs);
    EXPECT_EQ(FindControlByName(&form, "EDNAME"), nullptr) << "names compare with case";
    EXPECT_EQ(FindControlByName(&form, ""), nullptr);
    EXPECT_EQ(FindControlByName(nullptr, "edName"), nullptr);
    EXPECT_EQ(FindControlByName(&form, "missing"), nullptr);
    delete nested;
    EXPECT_EQ(FindControlByName(&form, "edName"), later);
    EXPECT_EQ(FindControlByName(later, "edName"), nullptr) << "the container itself is not a candidate";
}

TEST(FindControlOnPage, LooksForPrefixAndIndexOnThatPage)
{
    QTabWidget tabs;
    for (int i = 0; i < 3; ++i) {
        auto* page = new QWidget;
        auto* layout = new QVBoxLayout(page);
        layout->addWidget(
            Named(new QLineEdit, QStringLiteral("edDeviceName%1").arg(i).toLatin1().constData()));
        tabs.addTab(page, QStringLiteral("Device %1").arg(i + 1));
    }
    // A control of another page's name on page 0 is not found through page 2.
    Named(new QLineEdit(tabs.widget(0)), "edDeviceName2");

    QWidget* found = FindControlOnPage(&tabs, 2, "edDeviceName");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->objectName(), "edDeviceName2");
    EXPECT_TRUE(tabs.widget(2)->isAncestorOf(found));
    EXPECT_EQ(FindControlOnPage(&tabs, 0, "edDeviceName")->objectName(), "edDeviceName0");
    EXPECT_EQ(FindControlOnPage(&tabs, -1, "edDeviceName"), nullptr);
    EXPECT_EQ(FindControlOnPage(&tabs, 3, "edDeviceName"), nullptr);
    EXPECT_EQ(FindControlOnPage(&tabs, 1, ""), nullptr);
    EXPECT_EQ(FindControlOnPage(nullptr, 0, "edDeviceName"), nullptr);
    EXPECT_EQ(FindControlOnPage(&tabs, 1, "cbxFullScreen"), nullptr);
}
