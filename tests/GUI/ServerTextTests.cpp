// Names from the content server are shown as they are written, wherever the window shows them: markup in a
// vitrelle's name is neither rendered nor followed, and an "&" is no keyboard shortcut.

#include "PageFixture.h"

#include "MessageBox.h"
#include "RepositoryTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>

#include <optional>

namespace {

using TPage = TfrmVitrelleCenter::TPage;

const QString RichName = R"(<b>Sales & Co</b> <a href="http://elsewhere/">offer</a><img src="x.png">)";

QByteArray XmlAttribute(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

class ServerText : public PageTest
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        const QByteArray name = XmlAttribute(RichName);
        Server.SetFile("/list/VitrelleList.xml",
                       "<Vitrelles><Vitrelle id=\"rich\" name=\"" + name + "\"/></Vitrelles>");
        Server.SetFile("/vitrelles/rich.xml",
                       "<Vitrelle name=\"" + name +
                           "\"><Diapositive id=\"r1\" type=\"Text\"><picture id=\"t.png\"/>"
                           "<Line>one</Line></Diapositive></Vitrelle>");
    }
};

} // namespace

TEST_F(ServerText, AVitrellesNameIsShownAsItIsWritten)
{
    OpenForm();
    ASSERT_TRUE(Agent().PlayVitrelle("rich", 0, 5)) << LogText(Log);
    int labels = 0;
    int tabs = 0;
    int combos = 0;
    for (const TPage page : {TPage::Devices, TPage::Vitrelles, TPage::Schedule}) {
        ShowPage(page);
        Idle();
        for (const QLabel* label : CurrentPage->findChildren<QLabel*>()) {
            if (!label->text().contains(RichName))
                continue;
            ++labels;
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
            // Rendered, the markup would take far less room than its text.
            EXPECT_GE(label->sizeHint().width(), label->fontMetrics().horizontalAdvance(label->text()))
                << label->objectName().toStdString();
        }
        for (const QTabWidget* pages : CurrentPage->findChildren<QTabWidget*>())
            for (int i = 0; i < pages->count(); ++i)
                if (pages->tabText(i).contains("Sales")) {
                    ++tabs;
                    // A single "&" would underline the next letter and make it a shortcut.
                    EXPECT_EQ(pages->tabText(i), QString(RichName).replace("&", "&&"));
                }
        for (const QComboBox* combo : CurrentPage->findChildren<QComboBox*>())
            for (int i = 0; i < combo->count(); ++i)
                if (combo->itemText(i).contains("Sales")) {
                    ++combos;
                    EXPECT_EQ(combo->itemText(i), RichName);
                }
    }
    EXPECT_EQ(labels, 1) << "the Devices page's Playing: label";
    EXPECT_EQ(tabs, 1) << "the Schedule page's tab of the vitrelle";
    EXPECT_GE(combos, 2) << "the Vitrelles and Schedule pages' choices";
}

// Error boxes quote what the server sent (its answers, names in messages).
TEST(ServerTextBox, AnErrorBoxShowsItsMessageAsItIsWritten)
{
    std::optional<Qt::TextFormat> format;
    QString text;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        format = box->textFormat();
        text = box->text();
        box->accept();
    });
    TMessageBox::Error(nullptr, "Cannot load vitrelle " + RichName);
    TMessageBox::TakeLastText();
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(text, "Cannot load vitrelle " + RichName);
}
