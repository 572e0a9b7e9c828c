#include "forms/frmfiltropadrao.h"

#include "ui_frmfiltropadrao.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>

#include "core/clientdataset.h"
#include "ui/dialogs.h"
#include "ui/handler.h"

namespace host {

namespace {

const QString kName = QStringLiteral("NMOPCAO");
const QString kValues = QStringLiteral("DSVALORES");

// The criteria controls whose values make an option set: named controls only, and a line
// edit that belongs to a spin box or a combo box is saved through its owner.
QJsonObject captureValues(const QWidget* frame) {
    QJsonObject values;
    for (QWidget* w : frame->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) {
            continue;
        }
        if (auto* date = qobject_cast<QDateEdit*>(w)) {
            values[name] = date->date().toString(Qt::ISODate);
        } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
            values[name] = spin->value();
        } else if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w)) {
            values[name] = dspin->value();
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            values[name] = combo->isEditable() ? QJsonValue(combo->currentText())
                                               : QJsonValue(combo->currentIndex());
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            values[name] = check->isChecked();
        } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
            values[name] = radio->isChecked();
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            if (!qobject_cast<QAbstractSpinBox*>(edit->parentWidget()) &&
                !qobject_cast<QComboBox*>(edit->parentWidget())) {
                values[name] = edit->text();
            }
        }
    }
    return values;
}

void restoreValues(QWidget* frame, const QJsonObject& values) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        QWidget* w = frame->findChild<QWidget*>(it.key());
        if (!w) {
            continue;  // a control the dialog no longer has
        }
        const QJsonValue v = it.value();
        if (auto* date = qobject_cast<QDateEdit*>(w)) {
            date->setDate(QDate::fromString(v.toString(), Qt::ISODate));
        } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
            spin->setValue(v.toInt());
        } else if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w)) {
            dspin->setValue(v.toDouble());
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            if (v.isString()) {
                combo->setCurrentText(v.toString());
            } else {
                combo->setCurrentIndex(v.toInt());
            }
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            check->setChecked(v.toBool());
        } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
            if (v.toBool()) {
                radio->setChecked(true);
            }
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(v.toString());
        }
    }
}

}  // namespace

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget* parent) : TDialogPadrao(parent) {
    Ui::TfrmFiltroPadrao ui;
    ui.setupUi(this);
    layFiltro = ui.layFiltro;
    grbFiltroPadrao = ui.grbFiltroPadrao;
    panMenu = ui.panMenu;
    layMenu = ui.layMenu;
    sbtConfirma = ui.sbtConfirma;
    sbtCancel = ui.sbtCancel;
    sbtHelp = ui.sbtHelp;
    panBotao = ui.panBotao;
    layBotao = ui.layBotao;
    btfSaveOpc = ui.btfSaveOpc;
    btfLoadOpc = ui.btfLoadOpc;
    lblCodTela = ui.lblCodTela;
    setModal(true);

    sbtConfirma->setText(QStringLiteral("Confirmar"));
    sbtCancel->setText(QStringLiteral("Cancelar"));
    sbtHelp->setText(QStringLiteral("Ajuda"));
    for (auto [button, glyph] :
         {std::pair{sbtConfirma, StdGlyph::Confirmar}, std::pair{sbtCancel, StdGlyph::Cancelar},
          std::pair{sbtHelp, StdGlyph::Ajuda}}) {
        button->setIcon(standardGlyph(glyph, this));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    }
    useCompactFont({sbtConfirma, sbtCancel, sbtHelp, lblCodTela});
    btfSaveOpc->setIcon(standardGlyph(StdGlyph::Salvar, this));
    btfLoadOpc->setIcon(standardGlyph(StdGlyph::Carregar, this));

    cdsCarregaOpcoes = new TClientDataSet(this);
    cdsCarregaOpcoes->setObjectName(QStringLiteral("cdsCarregaOpcoes"));
    cdsCarregaOpcoes->AddField({kName, FieldType::String, 40, false});
    cdsCarregaOpcoes->AddField({kValues, FieldType::Memo, 0, false});
    cdsCarregaOpcoes->CreateDataSet();

    ppmOpcoes = new QMenu(this);
    ppmOpcoes->setObjectName(QStringLiteral("ppmOpcoes"));
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* save = PopupMenu1->addAction(QStringLiteral("Salvar opções..."));
    QAction* load = PopupMenu1->addAction(QStringLiteral("Carregar opções"));
    connect(save, &QAction::triggered, btfSaveOpc, [this] { btfSaveOpc->click(); });
    connect(load, &QAction::triggered, btfLoadOpc, [this] { btfLoadOpc->click(); });
    panBotao->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(panBotao, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(panBotao->mapToGlobal(at)); });

    bind(sbtConfirma, &QAbstractButton::clicked, this, [this] { sbtConfirmaClick(); });
    bind(sbtCancel, &QAbstractButton::clicked, this, [this] { sbtCancelClick(); });
    bind(sbtHelp, &QAbstractButton::clicked, this, [this] { sbtHelpClick(); });
    bind(btfSaveOpc, &QAbstractButton::clicked, this, [this] { btfSaveOpcClick(); });
    bind(btfLoadOpc, &QAbstractButton::clicked, this, [this] { btfLoadOpcClick(); });
}

TfrmFiltroPadrao::~TfrmFiltroPadrao() = default;

void TfrmFiltroPadrao::sbtConfirmaClick() {
    SetModalResult(QDialog::Accepted);
}

void TfrmFiltroPadrao::sbtCancelClick() {
    reject();
}

void TfrmFiltroPadrao::sbtHelpClick() {
    const QString code = lblCodTela->text().trimmed();
    dialogs().message(code.isEmpty()
                          ? QStringLiteral("A ajuda deste filtro não está instalada.")
                          : QStringLiteral("A ajuda da tela %1 não está instalada.").arg(code),
                      MsgType::Information, MsgButton::Ok, this);
}

void TfrmFiltroPadrao::EscapePressed() {
    if (sbtCancel->isEnabled() && sbtCancel->isVisible()) {
        sbtCancel->click();
    } else {
        sbtCancelClick();
    }
}

void TfrmFiltroPadrao::SaveOptions(const QString& name) {
    const QString key = name.trimmed();
    if (key.isEmpty()) {
        throw EHostError(QStringLiteral("Informe um nome para as opções do filtro."));
    }
    if (key.size() > 40) {
        throw EHostError(QStringLiteral("O nome das opções tem no máximo 40 caracteres."));
    }
    const QString json = QString::fromUtf8(
        QJsonDocument(captureValues(grbFiltroPadrao)).toJson(QJsonDocument::Compact));
    if (cdsCarregaOpcoes->Locate(kName, key, TClientDataSet::loCaseInsensitive)) {
        cdsCarregaOpcoes->Edit();
    } else {
        cdsCarregaOpcoes->Append();
    }
    cdsCarregaOpcoes->FieldByName(kName).SetAsString(key);
    cdsCarregaOpcoes->FieldByName(kValues).SetAsString(json);
    cdsCarregaOpcoes->Post();
}

bool TfrmFiltroPadrao::LoadOptions(const QString& name) {
    if (!cdsCarregaOpcoes->Locate(kName, name.trimmed(), TClientDataSet::loCaseInsensitive)) {
        return false;
    }
    const QJsonDocument doc =
        QJsonDocument::fromJson(cdsCarregaOpcoes->FieldByName(kValues).AsString().toUtf8());
    restoreValues(grbFiltroPadrao, doc.object());
    return true;
}

QStringList TfrmFiltroPadrao::OptionNames() const {
    QStringList names;
    const TField& f = cdsCarregaOpcoes->FieldByName(kName);
    for (int row = 0; row < cdsCarregaOpcoes->RecordCount(); ++row) {
        names << f.ValueAt(row).toString();
    }
    return names;
}

void TfrmFiltroPadrao::btfSaveOpcClick() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, QStringLiteral("Salvar opções"),
                              QStringLiteral("Nome das opções:"), QLineEdit::Normal, {}, &ok);
    if (ok) {
        SaveOptions(name);
    }
}

void TfrmFiltroPadrao::fillOptionsMenu() {
    ppmOpcoes->clear();
    const QStringList names = OptionNames();
    if (names.isEmpty()) {
        ppmOpcoes->addAction(QStringLiteral("(nenhuma opção salva)"))->setEnabled(false);
        return;
    }
    for (const QString& n : names) {
        QAction* a = ppmOpcoes->addAction(n);
        connect(a, &QAction::triggered, this,
                [this, n] { runHandler(this, [&] { LoadOptions(n); }); });
    }
}

void TfrmFiltroPadrao::btfLoadOpcClick() {
    fillOptionsMenu();
    ppmOpcoes->popup(btfLoadOpc->mapToGlobal(QPoint(0, btfLoadOpc->height())));
}

}  // namespace host
