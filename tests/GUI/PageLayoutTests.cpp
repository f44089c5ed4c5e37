#include "DevicesPageSupport.h"

#include "ModalDialogs.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>

namespace {

using TPage = TfrmVitrelleCenter::TPage;

// Lets the layouts that a change of font or tab asked for do their work.
void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// Where a control's name and geometry are said in a failure.
std::string Describe(const QWidget* widget)
{
    const QRect r = widget->geometry();
    return QStringLiteral("%1 (%2) at %3,%4 %5x%6")
        .arg(widget->objectName(), QString::fromLatin1(widget->metaObject()->className()),
             QString::number(r.x()), QString::number(r.y()), QString::number(r.width()),
             QString::number(r.height()))
        .toStdString();
}

// Whether the control shows all of its text (or is at least as tall as its kind needs).
void CheckNotClipped(const QWidget* widget)
{
    const QSize size = widget->size();
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->text().isEmpty())
            return;
        if (label->wordWrap()) {
            EXPECT_GE(size.height(), label->heightForWidth(size.width())) << Describe(widget);
            return;
        }
        EXPECT_GE(size.width(), label->sizeHint().width()) << Describe(widget);
        EXPECT_GE(size.height(), label->sizeHint().height()) << Describe(widget);
    } else if (qobject_cast<const QCheckBox*>(widget) != nullptr) {
        EXPECT_GE(size.width(), widget->sizeHint().width()) << Describe(widget);
        EXPECT_GE(size.height(), widget->sizeHint().height()) << Describe(widget);
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        QString text = button->text();
        text.remove(QLatin1Char('&'));
        EXPECT_GE(size.width(), button->fontMetrics().horizontalAdvance(text) + 4) << Describe(widget);
        EXPECT_GE(size.height(), button->fontMetrics().height()) << Describe(widget);
    } else if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        // A list of the program's own texts shows its longest whole (names from the server may be cut).
        if (combo->sizeAdjustPolicy() == QComboBox::AdjustToContents) {
            EXPECT_GE(size.width(), combo->sizeHint().width()) << Describe(widget);
        }
        EXPECT_GE(size.height(), widget->minimumSizeHint().height()) << Describe(widget);
    } else if (qobject_cast<const QLineEdit*>(widget) != nullptr ||
               qobject_cast<const QAbstractSpinBox*>(widget) != nullptr) {
        EXPECT_GE(size.height(), widget->minimumSizeHint().height()) << Describe(widget);
    }
}

bool IsContainer(const QWidget* widget)
{
    const QByteArray kind = widget->metaObject()->className();
    return kind == "QWidget" || kind == "QFrame" || qobject_cast<const QDialog*>(widget) != nullptr ||
           widget->objectName().startsWith(QLatin1String("TFrame"));
}

// Below the container, every plain container's shown children lie inside it, none over another, and the
// controls among them show their texts whole.
int CheckLaidOut(QWidget* container)
{
    int checked = 0;
    QList<QWidget*> shown;
    for (QObject* child : container->children())
        if (auto* widget = qobject_cast<QWidget*>(child);
            widget != nullptr && !widget->isWindow() && widget->isVisible())
            shown << widget;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        QWidget* widget = shown[i];
        EXPECT_TRUE(container->rect().contains(widget->geometry()))
            << Describe(widget) << " outside " << Describe(container);
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(widget->geometry().intersects(shown[j]->geometry()))
                << Describe(widget) << " over " << Describe(shown[j]);
        CheckNotClipped(widget);
        ++checked;
        if (IsContainer(widget))
            checked += CheckLaidOut(widget);
    }
    return checked;
}

// Every tab of every page control below the widget in turn, checked while it is in front.
int CheckEveryTab(QWidget* root)
{
    int checked = CheckLaidOut(root);
    for (QTabWidget* tabs : root->findChildren<QTabWidget*>()) {
        const int current = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            Settle();
            checked += CheckLaidOut(tabs->widget(i));
        }
        tabs->setCurrentIndex(current);
    }
    return checked;
}

class PageLayout : public DevicesPageTest, public ::testing::WithParamInterface<int>
{
protected:
    QFont Sized(QFont font) const
    {
        font.setPixelSize(GetParam());
        return font;
    }
};

} // namespace

// The pages and dialogs lay their controls out in the font they are given: in the font they are made for
// and in larger ones (another family, a larger font for eyes that need it), every caption shows whole and no
// control covers another or leaves its page.
TEST_P(PageLayout, EveryControlShowsWholeAndApartInTheFont)
{
    OpenPage();
    TfrmVitrelleCenter& form = *Form;
    form.show();
    form.setFont(Sized(form.font()));
    for (const TPage page : {TPage::Devices, TPage::Vitrelles, TPage::Schedule, TPage::Settings}) {
        QWidget* shown = ShowPage(page);
        Settle();
        SCOPED_TRACE(shown->objectName().toStdString());
        EXPECT_GT(CheckEveryTab(shown), 10);
    }
    // The page buttons (the pages stand on one another by design, the one in front hiding the others).
    EXPECT_EQ(CheckLaidOut(form.findChild<QWidget*>("TopPanel")), 4);

    ShowPage(TPage::Devices);
    for (const char* button : {"btnComSettings0", "btnCommandSettings0"}) {
        SCOPED_TRACE(button);
        bool answered = false;
        TModal::SetNextDialogAnswer([&](QDialog& dialog) {
            answered = true;
            dialog.setFont(Sized(dialog.font()));
            dialog.show();
            Settle();
            EXPECT_GT(CheckLaidOut(&dialog), 10);
            dialog.hide();
            return static_cast<int>(QDialog::Rejected);
        });
        Click(button);
        EXPECT_TRUE(answered);
    }
}

INSTANTIATE_TEST_SUITE_P(Fonts, PageLayout, ::testing::Values(11, 16, 22),
                         [](const auto& info) { return std::to_string(info.param) + "px"; });
