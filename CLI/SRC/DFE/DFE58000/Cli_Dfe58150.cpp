#include "Cli_Dfe58150.h"

#include "ui_Cli_Dfe58150.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QScrollArea>
#include <QToolTip>
#include <algorithm>

#include "ui/dbgrid.h"

using namespace host;

namespace Cli_Dfe58150 {
TfrmNotasErradas* frmNotasErradas = nullptr;
bool boIdCriado = false;
}  // namespace Cli_Dfe58150

namespace {

const QString kDescricao = QStringLiteral("DSERRO");
// Narrowest width of the reason's tooltip, for a column the user made narrow.
constexpr int kDicaMinima = 300;

// The whole reason as a tooltip, broken into lines no wider than the given width. Rich text
// with each line escaped, so that a reason is shown literally whatever characters it holds
// and the tip keeps these lines instead of wrapping into a narrow column of its own.
QString dicaDaDescricao(const QString& texto, int largura) {
    const QFontMetrics fm(QToolTip::font());
    QStringList linhas;
    QString linha;
    for (const QString& palavra : texto.split(u' ', Qt::SkipEmptyParts)) {
        const QString junto = linha.isEmpty() ? palavra : linha + u' ' + palavra;
        if (!linha.isEmpty() && fm.horizontalAdvance(junto) > largura) {
            linhas << linha.toHtmlEscaped();
            linha = palavra;
        } else {
            linha = junto;
        }
    }
    linhas << linha.toHtmlEscaped();
    return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(linhas.join(u"<br>"));
}

}  // namespace

TfrmNotasErradas::TfrmNotasErradas(TDataSource* dtsNotasErradas, QWidget* parent)
    : TfrmRotiGeral(parent) {
    Ui::TfrmNotasErradas ui;
    ui.setupUi(grbDadosRel);
    panFundo = ui.panFundo;
    srbFundo = ui.srbFundo;
    DBGrid1 = ui.DBGrid1;

    setObjectName(QStringLiteral("frmNotasErradas"));
    setWindowTitle(QStringLiteral("Notas com Erro"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    resize(707, 334);
    lblCodTela->setText(QStringLiteral("DFE58150"));

    // Read-only, whole rows, titles, lines and tab navigation are the grid's own defaults.
    QPalette pal = DBGrid1->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(g, QPalette::Base, pal.color(QPalette::Active, QPalette::ToolTipBase));
    }
    DBGrid1->setPalette(pal);
    DBGrid1->Columns().Add(QStringLiteral("NRACESSONF"), QStringLiteral("Chave de Acesso"), 175);
    DBGrid1->Columns().Add(QStringLiteral("NRINSJURFORN"), QStringLiteral("Inscrição"), 104);
    DBGrid1->Columns().Add(QStringLiteral("NMRAZSOCFORN"), QStringLiteral("Nome Emitente"), 139);
    DBGrid1->Columns().Add(kDescricao, QStringLiteral("Descrição"), 479);
    DBGrid1->SetDataSource(dtsNotasErradas);
    DBGrid1->viewport()->installEventFilter(this);
}

TfrmNotasErradas::~TfrmNotasErradas() {
    if (Cli_Dfe58150::frmNotasErradas == this) {
        Cli_Dfe58150::frmNotasErradas = nullptr;
        Cli_Dfe58150::boIdCriado = false;
    }
}

void TfrmNotasErradas::FormClose(TCloseAction& action) {
    TfrmRotiGeral::FormClose(action);
    if (Cli_Dfe58150::frmNotasErradas == this) {
        Cli_Dfe58150::boIdCriado = false;
    }
    // The next opening builds a new list, so this one is not kept.
    if (action == TCloseAction::caHide) {
        action = TCloseAction::caFree;
    }
}

void TfrmNotasErradas::sbtConfirmaClick() {
    close();
}

bool TfrmNotasErradas::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip || watched != DBGrid1->viewport()) {
        return TfrmRotiGeral::eventFilter(watched, event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex cell = DBGrid1->indexAt(help->pos());
    const QString texto = cell.isValid() && cell.column() == DBGrid1->Columns().IndexOf(kDescricao)
                              ? cell.data(Qt::DisplayRole).toString().trimmed()
                              : QString();
    if (texto.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    const int largura = std::max(kDicaMinima, DBGrid1->columnWidth(cell.column()));
    QToolTip::showText(help->globalPos(), dicaDaDescricao(texto, largura), DBGrid1->viewport(),
                       DBGrid1->visualRect(cell));
    return true;
}

void CriaFrmNotasErradas(TDataSource* dtsNotasErradas) {
    using namespace Cli_Dfe58150;
    {
        // The hourglass while the list is built; the list itself shows the usual pointer.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        struct CursorBack {
            ~CursorBack() { QApplication::restoreOverrideCursor(); }
        } cursorBack;
        if (!boIdCriado || !frmNotasErradas) {
            frmNotasErradas = new TfrmNotasErradas(dtsNotasErradas);
            boIdCriado = true;
            frmNotasErradas->DoCreate();
        }
    }
    frmNotasErradas->ShowModal();
}
