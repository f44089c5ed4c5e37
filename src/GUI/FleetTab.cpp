#include "FleetTab.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QSysInfo>

namespace {

QLineEdit* AddEdit(QFormLayout* form, const QString& name, const QString& caption, const QString& hint = {})
{
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setPlaceholderText(hint);
    form->addRow(caption, edit);
    return edit;
}

} // namespace

TFleetTab::TFleetTab(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("tsFleet"));
    auto* form = new QFormLayout(this);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    edFleetHost = AddEdit(form, QStringLiteral("edFleetHost"), QStringLiteral("Broker host:"),
                          QStringLiteral("empty: no fleet link"));
    edFleetPort = new QSpinBox;
    edFleetPort->setObjectName(QStringLiteral("edFleetPort"));
    edFleetPort->setRange(0, 65535);
    // 0 stands for the protocol's own port.
    edFleetPort->setSpecialValueText(QStringLiteral("default (1883, 8883 with TLS)"));
    form->addRow(QStringLiteral("Port:"), edFleetPort);
    edFleetSite =
        AddEdit(form, QStringLiteral("edFleetSite"), QStringLiteral("Site:"), TFleetSettings::DefaultSite);
    edFleetKioskId = AddEdit(form, QStringLiteral("edFleetKioskId"), QStringLiteral("Kiosk id:"),
                             QSysInfo::machineHostName());
    edFleetUser = AddEdit(form, QStringLiteral("edFleetUser"), QStringLiteral("User:"));
    edFleetPassword = AddEdit(form, QStringLiteral("edFleetPassword"), QStringLiteral("Password:"));
    edFleetPassword->setEchoMode(QLineEdit::Password);
    edFleetCaFile = AddEdit(form, QStringLiteral("edFleetCaFile"), QStringLiteral("CA file (TLS):"),
                            QStringLiteral("empty: plain MQTT"));
    edFleetCertFile = AddEdit(form, QStringLiteral("edFleetCertFile"), QStringLiteral("Client certificate:"));
    edFleetKeyFile = AddEdit(form, QStringLiteral("edFleetKeyFile"), QStringLiteral("Client key:"));
    cbFleetAllowInsecure = new QCheckBox(QStringLiteral("Allow plain MQTT to another machine"));
    cbFleetAllowInsecure->setObjectName(QStringLiteral("cbFleetAllowInsecure"));
    form->addRow(QString(), cbFleetAllowInsecure);
    lblFleetProblem = new QLabel;
    lblFleetProblem->setObjectName(QStringLiteral("lblFleetProblem"));
    lblFleetProblem->setWordWrap(true);
    lblFleetProblem->setTextFormat(Qt::PlainText);
    form->addRow(lblFleetProblem);

    const auto changed = [this] {
        ShowProblem();
        if (!FFilling)
            Q_EMIT Changed();
    };
    for (QLineEdit* edit : {edFleetHost, edFleetSite, edFleetKioskId, edFleetUser, edFleetPassword,
                            edFleetCaFile, edFleetCertFile, edFleetKeyFile})
        connect(edit, &QLineEdit::textChanged, this, changed);
    connect(edFleetPort, &QSpinBox::valueChanged, this, changed);
    connect(cbFleetAllowInsecure, &QCheckBox::toggled, this, changed);
}

void TFleetTab::Fill(const TFleetSettings& settings)
{
    FFilling = true;
    edFleetHost->setText(settings.Host);
    edFleetPort->setValue(settings.Port >= 0 && settings.Port <= 65535 ? settings.Port : 0);
    edFleetSite->setText(settings.Site);
    edFleetKioskId->setText(settings.KioskId);
    edFleetUser->setText(settings.User);
    edFleetPassword->setText(settings.Password);
    edFleetCaFile->setText(settings.CaFile);
    edFleetCertFile->setText(settings.CertFile);
    edFleetKeyFile->setText(settings.KeyFile);
    cbFleetAllowInsecure->setChecked(settings.AllowInsecure);
    FFilling = false;
    ShowProblem();
}

TFleetSettings TFleetTab::Values() const
{
    TFleetSettings settings;
    settings.Host = edFleetHost->text().trimmed();
    settings.Port = edFleetPort->value();
    settings.Site = edFleetSite->text().trimmed();
    settings.KioskId = edFleetKioskId->text().trimmed();
    settings.User = edFleetUser->text();
    settings.Password = edFleetPassword->text();
    settings.CaFile = edFleetCaFile->text().trimmed();
    settings.CertFile = edFleetCertFile->text().trimmed();
    settings.KeyFile = edFleetKeyFile->text().trimmed();
    settings.AllowInsecure = cbFleetAllowInsecure->isChecked();
    return settings;
}

void TFleetTab::ShowProblem()
{
    lblFleetProblem->setText(Values().Problem());
}
