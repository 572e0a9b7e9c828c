#pragma once

// The manifestation workspace: the company panel, the toolbar of the manifestation commands
// and the list of the notes addressed to the chosen company, with its marks.

#include <QByteArray>
#include <QPixmap>
#include <QString>
#include <QVariantList>

#include "core/clientdataset.h"
#include "forms/frmpadraogrid.h"

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QScrollArea;

namespace host {
class TADOIBQuery;
class TBtnPesquisa;
class TDBEdit;
class TMaskEdit;
class TNetConnection;
}  // namespace host

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

class DFE58000_EXPORT TfrmManifestacao : public host::TfrmPadraoGrid {
    Q_OBJECT

  public:
    explicit TfrmManifestacao(QWidget* parent = nullptr);
    ~TfrmManifestacao() override;

    // --- server and company ------------------------------------------------------------------
    host::TNetConnection* netManifestacao = nullptr;
    host::TADOIBQuery* qryEmpresa = nullptr;
    host::TDataSource* dtsEmpresa = nullptr;

    QFrame* panEmpresa = nullptr;
    QLabel* lblEmpresa = nullptr;
    host::TMaskEdit* medCdEmpresa = nullptr;
    host::TBtnPesquisa* btpEmpresa = nullptr;
    QLineEdit* medNmEmpresa = nullptr;
    QLabel* imgCheck = nullptr;
    QLabel* imgUncheck = nullptr;

    // --- toolbar and menu --------------------------------------------------------------------
    host::TButtonFlat* sbtFiltro = nullptr;
    host::TButtonFlat* sbtCiencia = nullptr;
    host::TButtonFlat* sbtConfirmaOperacao = nullptr;
    host::TButtonFlat* sbtDesconhecimento = nullptr;
    host::TButtonFlat* sbtOperacaoNRealizada = nullptr;
    host::TButtonFlat* sbtVisualizarDocumento = nullptr;
    host::TButtonFlat* sbtGeraXML = nullptr;
    host::TButtonFlat* sbtDownloadXML = nullptr;
    host::TButtonFlat* sbtSincronizarNFE = nullptr;
    QAction* mnuFIltro = nullptr;

    // --- list page ---------------------------------------------------------------------------
    QWidget* panDbgPadrao = nullptr;
    QScrollArea* scbFolhaDados = nullptr;
    QFrame* panChaveAcesso = nullptr;
    QLabel* lblAcesso = nullptr;
    host::TDBEdit* dbeAcesso = nullptr;

    // --- data sets ---------------------------------------------------------------------------
    host::TClientDataSet* cdsNotasDestinadas = nullptr;
    host::TClientDataSet* cdsMarcados = nullptr;
    host::TClientDataSet* cdsNotasErradas = nullptr;
    host::TClientDataSet* cdsDocumentoXML = nullptr;
    host::TClientDataSet* cdsNotasTemp = nullptr;
    host::TDataSource* dtsNotasErradas = nullptr;
    host::TDataSource* dtsDocumentoXML = nullptr;

    // Manifestation situation of the first note marked in the current marking cycle.
    QString stManifestacao;
    bool AvisoManifestacao() const { return boAvisoManifestacao; }

    // Closes qryEmpresa, binds the company code and the "all companies" flag ("T" or empty)
    // and opens it again.
    void AbreQryEmpresa(const QString& code, const QString& all);
    // Replaces the list with the notes of a packet, which must be of the server's note layout,
    // and sets the marked counter to none. A packet of another layout, or one that cannot be
    // read, raises host::EHostError (an invalid answer of GetNotasDestinadas) and leaves the
    // list and the counter as they were.
    void CarregaNotas(const QByteArray& packet);
    // Rebuilds cdsMarcados with one row per marked note of the list.
    void InsereCdsFiltrado();
    // The different-situation warning, run just before a note is counted as marked.
    void ValidaAviso();
    // Enables the event, XML and document commands for the current row of the list.
    void AplicaEstadoComandos(bool rowChanged);

    // Sends one manifestation event ("4" Ciência, "1" Confirmação, "2" Desconhecimento) for
    // every marked note, shows the result popup and then verifies the list.
    void ExecutaManifestacao(const QString& P_TIPOMANIFESTA);
    // Creates the result popup and the XML completion dialog the first time; reused after.
    void FormulariosDeResultado();
    // After a successful setManifestacao: the popup's three counts and the rejected notes of
    // the answer (the elements of rdmManifestacao::setManifestacao).
    void PreparaResultado(const QVariantList& resultado);
    // Shows the result popup modally.
    void MostraResultado();

    // The check pictures, 16 x 16, olive background (128,128,0) left in place.
    static QPixmap CheckPicture(bool checked);

    // Event handlers, under the names the rest of the module uses.
    void panEmpresaEnter();
    void panEmpresaExit();
    void medCdEmpresaChange();
    void medCdEmpresaExit();
    void btpEmpresaBeforePesq(QObject* sender, bool& allowPesq);
    void btpEmpresaAfterPesq(QObject* sender);
    void sbtFiltroClick();
    void mnuFIltroClick();
    void sbtCienciaClick();
    void sbtConfirmaOperacaoClick();
    void sbtDesconhecimentoClick();
    void sbtOperacaoNRealizadaClick();
    void sbtGeraXMLClick();
    void sbtDownloadXMLClick();
    void sbtVisualizarDocumentoClick();
    void sbtSincronizarNFEClick();
    void dbgPadraoEnter();
    void dbgPadraoKeyDown(int& key, Qt::KeyboardModifiers shift);
    void dbgPadraoDblClick();
    void dbgPadraoTitleClick(host::TColumn& column);
    void dbgPadraoDrawColumnCell(QPainter& painter, const QRect& rect, int dataCol,
                                 const host::TColumn& column, const host::DrawCellState& state);
    void cdsNotasDestinadasAfterScroll(host::TClientDataSet& dataSet);
    void netManifestacaoBeforeConnect(host::TNetConnection& connection);
    // Display texts of the list's code and date fields, for the current row.
    void cdsNotasDestinadasIDSTATUSNFEGetText(host::TField& sender, QString& text, bool display);
    void cdsNotasDestinadasIDSTATUSMANIFGetText(host::TField& sender, QString& text, bool display);
    void cdsNotasDestinadasIDTIPOEVENTOGetText(host::TField& sender, QString& text, bool display);
    void cdsNotasDestinadasIDAMBIENTEMANIFGetText(host::TField& sender, QString& text,
                                                  bool display);
    void cdsNotasDestinadasIDTIPOINCLGetText(host::TField& sender, QString& text, bool display);
    void cdsNotasDestinadasDTENTRSAIDGetText(host::TField& sender, QString& text, bool display);
    void cdsNotasDestinadasDTEMISSAOGetText(host::TField& sender, QString& text, bool display);
    void cdsNotasDestinadasDTRECBTOGetText(host::TField& sender, QString& text, bool display);

  protected:
    void FormCreate() override;
    void FormClose(host::TCloseAction& action) override;
    void dtsPadraoStateChange() override;
    // Asks the server again for the notes of the last confirmed filter and replaces the list.
    void sbtVerificarClick() override;
    // Opens the report form.
    void sbtImprimirClick() override;

  private:
    // The directory of the XML files, with its separator; empty when the clerk cancels.
    // Raises host::EHostError when the directory cannot take files.
    QString EscolheDiretorio();
    // Loads the answer's documents into cdsDocumentoXML and writes their files, telling the
    // clerk which were refused.
    void GravaArquivosXml(const QVariant& documentos, const char* metodo,
                          const QString& stDiretorio);
    void buildList();
    void declareDataSets();
    void bindHandlers();
    void marcaNota(bool completeNow);
    QString codeText(const QString& field, const QString& prefix, const QString& valid) const;
    QString dateText(const host::TField& field) const;

    bool boAvisoManifestacao = false;
    // The caret is in the company panel (entered and not yet left).
    bool m_focoNoPainel = false;
    QPixmap m_check;
    QPixmap m_uncheck;
};

// Unit state: the single workspace, whether it has been created, and the number of marked
// notes of its list.
extern DFE58000_EXPORT TfrmManifestacao* frmManifestacao;
extern DFE58000_EXPORT bool boIdCriado;
extern DFE58000_EXPORT int inMarcados;

// Creates the workspace on the first call and shows it on every call.
DFE58000_EXPORT void CriaManifestacao();
