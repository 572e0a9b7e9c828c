#include "forms/frmpadraogrid.h"

#include "ui_frmpadraogrid.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

#include "core/clientdataset.h"
#include "core/messages.h"
#include "forms/mdihost.h"
#include "ui/dialogs.h"
#include "ui/handler.h"

namespace host {

namespace {

// Watches the sub-window that holds a screen, so that the screen can tell a close of the
// sub-window (which deletes itself) from a close of the screen alone. It has its own meta-object
// so that findChild tells it from the sub-window's other children (its system menu).
class SubWindowWatch : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;
    bool closing = false;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            closing = true;
        }
        return false;
    }
};

void setCommand(QAbstractButton* button, QAction* item, bool on) {
    button->setEnabled(on);
    if (item) {
        item->setEnabled(on);
    }
}

}  // namespace

TfrmPadraoGrid::TfrmPadraoGrid(QWidget* parent) : QWidget(parent) {
    Ui::TfrmPadraoGrid ui;
    ui.setupUi(this);
    layPadrao = ui.layPadrao;
    panMenu = ui.panMenu;
    sbtIncluir = ui.sbtIncluir;
    sbtAlterar = ui.sbtAlterar;
    sbtExcluir = ui.sbtExcluir;
    sbtProcurar = ui.sbtProcurar;
    sbtOrdenar = ui.sbtOrdenar;
    sbtVerificar = ui.sbtVerificar;
    sbtCancelar = ui.sbtCancelar;
    sbtConfirmar = ui.sbtConfirmar;
    sbtImprimir = ui.sbtImprimir;
    sbtFechar = ui.sbtFechar;
    sbtAjuda = ui.sbtAjuda;
    pgcPadrao = ui.pgcPadrao;
    tshPadrao = ui.tshPadrao;
    layLista = ui.layLista;
    dbgPadrao = ui.dbgPadrao;
    panNavigator = ui.panNavigator;
    layNavigator = ui.layNavigator;
    dbnPadrao = ui.dbnPadrao;
    lblCodTela = ui.lblCodTela;
    mnuIncluir = ui.mnuIncluir;
    mnuAlterar = ui.mnuAlterar;
    mnuExcluir = ui.mnuExcluir;
    mnuProcurar = ui.mnuProcurar;
    mnuOrdenar = ui.mnuOrdenar;
    mnuVerificar = ui.mnuVerificar;
    mnuCancelar = ui.mnuCancelar;
    mnuConfirmar = ui.mnuConfirmar;
    mnuListagem = ui.mnuListagem;
    mnuFechar = ui.mnuFechar;

    dtsPadrao = new TDataSource(this);
    dtsPadrao->setObjectName(QStringLiteral("dtsPadrao"));
    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));
    dbgPadrao->SetDataSource(dtsPadrao);
    dbnPadrao->SetDataSource(dtsPadrao);

    // The menu bar with the maintenance menu, each item mirroring its toolbar button.
    mnuPrincipal = new QMenuBar(this);
    mnuPrincipal->setObjectName(QStringLiteral("mnuPrincipal"));
    mnuPrincipal->setNativeMenuBar(false);
    layPadrao->setMenuBar(mnuPrincipal);
    mnuManutencao = mnuPrincipal->addMenu(QStringLiteral("&Manutenção"));
    mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
    const struct {
        QAction* item;
        QAbstractButton* button;
        StdGlyph glyph;
    } mirrors[] = {
        {mnuIncluir, sbtIncluir, StdGlyph::Incluir},
        {mnuAlterar, sbtAlterar, StdGlyph::Alterar},
        {mnuExcluir, sbtExcluir, StdGlyph::Excluir},
        {mnuProcurar, sbtProcurar, StdGlyph::Procurar},
        {mnuOrdenar, sbtOrdenar, StdGlyph::Ordenar},
        {mnuVerificar, sbtVerificar, StdGlyph::Verificar},
        {mnuCancelar, sbtCancelar, StdGlyph::Cancelar},
        {mnuConfirmar, sbtConfirmar, StdGlyph::Confirmar},
        {mnuListagem, sbtImprimir, StdGlyph::Imprimir},
        {mnuFechar, sbtFechar, StdGlyph::Fechar},
    };
    for (const auto& m : mirrors) {
        const QIcon icon = standardGlyph(m.glyph, this);
        m.button->setIcon(icon);
        m.item->setIcon(icon);
        if (m.item == mnuListagem || m.item == mnuFechar) {
            mnuManutencao->addSeparator();
        }
        mnuManutencao->addAction(m.item);
        // Choosing the item is clicking the button: the screen's handler runs once, and a
        // disabled button ignores it.
        connect(m.item, &QAction::triggered, m.button, [b = m.button] { b->click(); });
    }
    sbtAjuda->setIcon(standardGlyph(StdGlyph::Ajuda, this));
    for (TButtonFlat* b :
         {sbtIncluir, sbtAlterar, sbtExcluir, sbtProcurar, sbtOrdenar, sbtVerificar, sbtCancelar,
          sbtConfirmar, sbtImprimir, sbtFechar, sbtAjuda}) {
        b->setIconSize(QSize(16, 16));
        b->setFixedSize(21, 21);
    }
    mnuFechar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));

    bindCommands();
    m_keyPreview = new KeyPreview(
        this, [this](int& key, Qt::KeyboardModifiers shift) { FormKeyDown(key, shift); });
}

TfrmPadraoGrid::~TfrmPadraoGrid() {
    announceDestroying();
}

void TfrmPadraoGrid::bindCommands() {
    bind(sbtIncluir, &QAbstractButton::clicked, this, [this] { sbtIncluirClick(); });
    bind(sbtAlterar, &QAbstractButton::clicked, this, [this] { sbtAlterarClick(); });
    bind(sbtExcluir, &QAbstractButton::clicked, this, [this] { sbtExcluirClick(); });
    bind(sbtProcurar, &QAbstractButton::clicked, this, [this] { sbtProcurarClick(); });
    bind(sbtOrdenar, &QAbstractButton::clicked, this, [this] { sbtOrdenarClick(); });
    bind(sbtVerificar, &QAbstractButton::clicked, this, [this] { sbtVerificarClick(); });
    bind(sbtCancelar, &QAbstractButton::clicked, this, [this] { sbtCancelarClick(); });
    bind(sbtConfirmar, &QAbstractButton::clicked, this, [this] { sbtConfirmarClick(); });
    bind(sbtImprimir, &QAbstractButton::clicked, this, [this] { sbtImprimirClick(); });
    bind(sbtFechar, &QAbstractButton::clicked, this, [this] { sbtFecharClick(); });
    bind(sbtAjuda, &QAbstractButton::clicked, this, [this] { sbtAjudaClick(); });
    // Only once the screen is created: before that, a derived screen may still be building
    // the controls its handler sets. FormCreate applies the state it finds.
    auto stateChange = [this] {
        if (m_created) {
            dtsPadraoStateChange();
        }
    };
    bind(dtsPadrao, &TDataSource::stateChanged, this, stateChange);
    bind(dtsPadrao, &TDataSource::dataSetChanged, this, stateChange);
}

void TfrmPadraoGrid::DoCreate() {
    if (m_created) {
        return;
    }
    m_created = true;
    runHandler(this, [this] { FormCreate(); });
}

void TfrmPadraoGrid::ShowForm() {
    QMdiSubWindow* sub = MdiHost::subWindowOf(this);
    if (!sub && !isWindow()) {
        show();
        return;
    }
    if (!sub) {
        sub = MdiHost::addChild(this);
    }
    if (sub) {
        if (!sub->findChild<SubWindowWatch*>(QString(), Qt::FindDirectChildrenOnly)) {
            auto* watch = new SubWindowWatch(sub);
            sub->installEventFilter(watch);
        }
        sub->showMaximized();
        if (QMdiArea* area = sub->mdiArea()) {
            area->setActiveSubWindow(sub);
        }
    }
    // Showing the screen again gives the focus back to the control that last had it, and
    // leaves it alone when it is there already: a control the caret never left is neither
    // left nor entered, so no exit check or enter rule runs for a mere "show again".
    QWidget* last = focusWidget();
    if (last && last != this && isAncestorOf(last)) {
        last->setFocus();
    } else {
        setFocus();
    }
}

bool TfrmPadraoGrid::CloseForm() {
    if (QMdiSubWindow* sub = MdiHost::subWindowOf(this)) {
        return sub->close();
    }
    return close();
}

void TfrmPadraoGrid::announceDestroying() {
    if (m_announced) {
        return;
    }
    m_announced = true;
    emit formDestroying(this);
}

void TfrmPadraoGrid::closeEvent(QCloseEvent* event) {
    TCloseAction action = TCloseAction::caFree;
    // A close handler that fails keeps the screen open: its message has been shown.
    if (!runHandler(this, [&] { FormClose(action); })) {
        action = TCloseAction::caNone;
    }
    QMdiSubWindow* sub = MdiHost::subWindowOf(this);
    switch (action) {
        case TCloseAction::caNone:
            event->ignore();
            return;
        case TCloseAction::caHide:
            if (sub) {
                event->ignore();
                sub->hide();
            } else {
                setAttribute(Qt::WA_DeleteOnClose, false);  // hidden, kept for later
                event->accept();
            }
            return;
        case TCloseAction::caMinimize:
            event->ignore();
            if (sub) {
                sub->showMinimized();
            } else {
                showMinimized();
            }
            return;
        case TCloseAction::caFree:
            break;
    }
    announceDestroying();
    event->accept();
    if (!sub) {
        setAttribute(Qt::WA_DeleteOnClose);
        return;
    }
    auto* watch = sub->findChild<SubWindowWatch*>(QString(), Qt::FindDirectChildrenOnly);
    if (watch && watch->closing) {
        sub->setAttribute(Qt::WA_DeleteOnClose);  // the sub-window goes, and the screen with it
    } else {
        sub->deleteLater();
    }
}

void TfrmPadraoGrid::FormCreate() {
    dtsPadraoStateChange();
}

void TfrmPadraoGrid::FormClose(TCloseAction& action) {
    action = TCloseAction::caFree;
}

void TfrmPadraoGrid::FormKeyDown(int&, Qt::KeyboardModifiers) {}

void TfrmPadraoGrid::dtsPadraoStateChange() {
    TClientDataSet* ds = dtsPadrao->DataSet();
    const DataSetState state = ds ? ds->State() : DataSetState::Inactive;
    const bool browsing = state == DataSetState::Browse;
    const bool editing = state == DataSetState::Edit || state == DataSetState::Insert;
    const bool rows = browsing && !ds->IsEmpty();
    setCommand(sbtIncluir, mnuIncluir, browsing);
    setCommand(sbtAlterar, mnuAlterar, rows);
    setCommand(sbtExcluir, mnuExcluir, rows);
    setCommand(sbtProcurar, mnuProcurar, rows);
    setCommand(sbtOrdenar, mnuOrdenar, rows);
    setCommand(sbtVerificar, mnuVerificar, !editing);
    setCommand(sbtCancelar, mnuCancelar, editing);
    setCommand(sbtConfirmar, mnuConfirmar, editing);
    setCommand(sbtImprimir, mnuListagem, rows);
}

namespace {

TClientDataSet& openDataSet(TDataSource* source) {
    TClientDataSet* ds = source->DataSet();
    if (!ds || !ds->Active()) {
        throw EHostError(QStringLiteral("Não há dados abertos nesta tela."));
    }
    return *ds;
}

TClientDataSet& currentRow(TDataSource* source) {
    TClientDataSet& ds = openDataSet(source);
    if (ds.IsEmpty()) {
        throw EHostError(QStringLiteral("Não há registro selecionado."));
    }
    return ds;
}

}  // namespace

void TfrmPadraoGrid::sbtIncluirClick() {
    openDataSet(dtsPadrao).Append();
    dbgPadrao->setFocus();
}

void TfrmPadraoGrid::sbtAlterarClick() {
    currentRow(dtsPadrao).Edit();
    dbgPadrao->setFocus();
}

void TfrmPadraoGrid::sbtExcluirClick() {
    TClientDataSet& ds = currentRow(dtsPadrao);
    if (dialogs().message(QStringLiteral("Confirma exclusão?"), MsgType::Confirmation,
                          MsgButton::Yes | MsgButton::No, this) != MsgButton::Yes) {
        return;
    }
    ds.Delete();
}

void TfrmPadraoGrid::sbtProcurarClick() {
    TClientDataSet& ds = currentRow(dtsPadrao);
    PickRequest req;
    req.title = QStringLiteral("Procurar");
    req.source = &ds;
    for (int i = 0; i < dbgPadrao->Columns().Count(); ++i) {
        if (dbgPadrao->Columns()[i].Visible()) {
            req.columns << dbgPadrao->Columns()[i].FieldName();
        }
    }
    if (!req.columns.isEmpty()) {
        req.keyField = req.columns.constFirst();
    }
    const QList<int> rows = dialogs().pick(req, this);
    if (!rows.isEmpty()) {
        ds.SetRecNo(rows.constFirst() + 1);
    }
}

void TfrmPadraoGrid::sbtOrdenarClick() {
    TClientDataSet& ds = currentRow(dtsPadrao);
    const int column = dbgPadrao->SelectedIndex();
    QString field;
    if (column >= 0 && column < dbgPadrao->Columns().Count()) {
        field = dbgPadrao->Columns()[column].FieldName();
    } else if (column >= 0 && column < ds.FieldCount()) {
        field = ds.Fields(column).FieldName();
    }
    if (field.isEmpty()) {
        throw EHostError(QStringLiteral("Selecione a coluna pela qual ordenar."));
    }
    ds.SetIndexFieldNames(field);
}

void TfrmPadraoGrid::sbtVerificarClick() {}

void TfrmPadraoGrid::sbtCancelarClick() {
    TClientDataSet& ds = openDataSet(dtsPadrao);
    if (ds.State() == DataSetState::Edit || ds.State() == DataSetState::Insert) {
        ds.Cancel();
    }
}

void TfrmPadraoGrid::sbtConfirmarClick() {
    TClientDataSet& ds = openDataSet(dtsPadrao);
    if (ds.State() == DataSetState::Edit || ds.State() == DataSetState::Insert) {
        ds.Post();
    }
}

void TfrmPadraoGrid::sbtImprimirClick() {}

void TfrmPadraoGrid::sbtFecharClick() {
    CloseForm();
}

void TfrmPadraoGrid::sbtAjudaClick() {
    const QString code = lblCodTela->text().trimmed();
    dialogs().message(code.isEmpty()
                          ? QStringLiteral("A ajuda desta tela não está instalada.")
                          : QStringLiteral("A ajuda da tela %1 não está instalada.").arg(code),
                      MsgType::Information, MsgButton::Ok, this);
}

}  // namespace host

#include "frmpadraogrid.moc"
