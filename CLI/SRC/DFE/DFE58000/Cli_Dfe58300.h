#pragma once

// The report form: the clerk picks one of the module's reports and states its criteria
// (company, registrations, branches, series, issuer, issue dates, operation types, NF-e and
// manifestation situations, access key). The criteria become the report's query parameters
// just before the report engine opens its queries; every showing also takes a copy of the
// workspace's note list and counts its notes by synchronisation group, for the reports that
// print them. Created once and afterwards only hidden, so the criteria stay.

#include <QString>

#include "forms/frmdadosgerrel.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QStackedWidget;

namespace host {
class TADOIBQuery;
class TBtnPesquisa;
class TClientDataSet;
class TDataSource;
class TDateEditPlus;
class TField;
class TMaskEdit;
class TReportParams;
}  // namespace host

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

class DFE58000_EXPORT TfrmRelatorio : public host::TfrmDadosGerRel {
    Q_OBJECT

  public:
    explicit TfrmRelatorio(QWidget* parent = nullptr);
    ~TfrmRelatorio() override;

    // --- criteria --------------------------------------------------------------------------
    QWidget* panCriterios = nullptr;
    QLabel* lblEmpresa = nullptr;
    host::TMaskEdit* medCdEmpresa = nullptr;
    host::TBtnPesquisa* btpEmpresa = nullptr;
    host::TMaskEdit* medNmEmpresa = nullptr;
    QLabel* lblInscrJurid = nullptr;
    host::TMaskEdit* medInscrJurid = nullptr;
    host::TBtnPesquisa* btpInscrJurid = nullptr;
    QLabel* lblIE = nullptr;
    host::TMaskEdit* medIE = nullptr;
    host::TBtnPesquisa* btpIE = nullptr;
    QLabel* lblFiliOrig = nullptr;
    host::TMaskEdit* medCdFiliOrig = nullptr;
    host::TBtnPesquisa* btpFiliOrig = nullptr;
    host::TMaskEdit* medNmFiliOrig = nullptr;
    QLabel* lblSerie = nullptr;
    host::TMaskEdit* medCdSerie = nullptr;
    host::TBtnPesquisa* btpSerie = nullptr;

    QGroupBox* grbEmitente = nullptr;
    QComboBox* cboEmitente = nullptr;
    QStackedWidget* nbkEmitente = nullptr;
    host::TMaskEdit* medTodos = nullptr;
    host::TBtnPesquisa* BtnPesquisa5 = nullptr;
    host::TMaskEdit* medNmTodos = nullptr;
    host::TMaskEdit* medCdCliente = nullptr;
    host::TBtnPesquisa* btpCliente = nullptr;
    host::TMaskEdit* medNmCliente = nullptr;
    host::TMaskEdit* medCdFornecedor = nullptr;
    host::TBtnPesquisa* btpFornecedor = nullptr;
    host::TMaskEdit* medNmFornecedor = nullptr;
    host::TMaskEdit* medCdFilial = nullptr;
    host::TBtnPesquisa* btpFilial = nullptr;
    host::TMaskEdit* medNmFilial = nullptr;

    QGroupBox* grbEmissao = nullptr;
    host::TDateEditPlus* depInicial = nullptr;
    host::TDateEditPlus* depFinal = nullptr;
    QGroupBox* grbOperacao = nullptr;
    QComboBox* cboOperacao = nullptr;
    QRadioButton* rbtTodosOper = nullptr;
    QRadioButton* rbtListaOper = nullptr;
    host::TBtnPesquisa* btpOperacao = nullptr;
    QGroupBox* grbSituacaoNFe = nullptr;
    QCheckBox* chkSemSituacao = nullptr;
    QCheckBox* chkAutorizada = nullptr;
    QCheckBox* chkDenegada = nullptr;
    QCheckBox* chkCancelada = nullptr;
    QGroupBox* grbSituacaoManifestacao = nullptr;
    QCheckBox* chkSemManifestacao = nullptr;
    QCheckBox* chkConfirmadaOperacao = nullptr;
    QCheckBox* chkCienciaOperacao = nullptr;
    QCheckBox* chkOperacaoNRealizada = nullptr;
    QCheckBox* chkDesconhecida = nullptr;
    QGroupBox* grbChaveAcesso = nullptr;
    host::TMaskEdit* medChaveAcesso = nullptr;

    // --- lookups in the company database -----------------------------------------------------
    host::TADOIBQuery* qryEmpresa = nullptr;
    host::TDataSource* dtsEmpresa = nullptr;
    host::TADOIBQuery* qryPesqInscrJurid = nullptr;
    host::TDataSource* dtsPesqInscrJurid = nullptr;
    host::TADOIBQuery* qryPesqInscrEstad = nullptr;
    host::TDataSource* dtsPesqInscrEstad = nullptr;
    host::TADOIBQuery* qryPesqFilial = nullptr;
    host::TDataSource* dtsPesqFilial = nullptr;
    host::TADOIBQuery* qryFilial = nullptr;
    host::TADOIBQuery* qrySerieNF = nullptr;
    host::TDataSource* dtsSerieNF = nullptr;
    host::TADOIBQuery* qryCliente = nullptr;
    host::TDataSource* dtsCliente = nullptr;
    host::TADOIBQuery* qryFornecedor = nullptr;
    host::TDataSource* dtsFornecedor = nullptr;
    host::TADOIBQuery* qryOperacao = nullptr;
    host::TDataSource* dtsOperacao = nullptr;

    // --- the workspace's notes, copied at every showing, and their counts by group ----------
    host::TClientDataSet* cdsNotasDestinadas = nullptr;
    host::TDataSource* dtsNotasDestinadas = nullptr;
    host::TClientDataSet* cdsAux = nullptr;
    host::TDataSource* dtsAux = nullptr;
    host::TClientDataSet* cdsContaNotas = nullptr;
    host::TDataSource* dtsContaNotas = nullptr;

    // Query openers: close, bind, open. An empty value given to AbreQryCNPJ and AbreQryIE
    // means any value ("T").
    void AbreQryEmpresa(const QString& P_CDEMPRESA, const QString& P_TCDEMPRESA);
    void AbreQryCNPJ(const QString& P_EMPRESA, const QString& P_CNPJ);
    void AbreQryIE(const QString& P_EMPRESA, const QString& P_CNPJ, const QString& P_IE);
    void AbreQrySerie(const QString& P_CDSERIE, const QString& P_TCDSERIE);
    void AbreQryCliente(const QString& P_NRINSJURCLIE, const QString& P_TNRINSJURCLIE);
    void AbreQryFornecedor(const QString& P_NRINSJURFORN, const QString& P_TNRINSJURFORN);
    void AbreQryTipoOper(const QString& P_IDENTRSAIDOP);

    // Validators: on failure they put the focus into their edit, report and end the running
    // operation; an empty edit passes.
    void Vd_Filial(host::TMaskEdit* sender);
    void Vd_InscrJurid();

    // Counts the notes of cdsAux by synchronisation group into cdsContaNotas.
    void Quantidade_Notas();

    // Event handlers.
    void cbbReportNamesChange();
    void rpddPadraoBeforeGetQueryParams(host::TReportParams& params, bool& doCancel);

    void btpEmpresaBeforePesq(QObject* sender, bool& allowPesq);
    void btpEmpresaAfterPesq(QObject* sender);
    void medCdEmpresaChange();
    void medCdEmpresaExit();
    void btpInscrJuridBeforePesq(QObject* sender, bool& allowPesq);
    void btpInscrJuridAfterPesq(QObject* sender);
    void medInscrJuridEnter();
    void medInscrJuridKeyPress(QString& key);
    void medInscrJuridChange();
    void medInscrJuridExit();
    void qryPesqInscrJuridNRINSJURIESTGetText(host::TField& sender, QString& text,
                                              bool displayText);
    void btpIEBeforePesq(QObject* sender, bool& allowPesq);
    void btpIEAfterPesq(QObject* sender);
    void medIEExit();
    void btpFiliOrigBeforePesq(QObject* sender, bool& allowPesq);
    void btpFiliOrigAfterPesq(QObject* sender);
    void medCdFiliOrigChange();
    void medCdFiliOrigExit();
    void btpSerieBeforePesq(QObject* sender, bool& allowPesq);
    void btpSerieAfterPesq(QObject* sender);
    void medCdSerieExit();
    void cboEmitenteChange();
    void btpClienteBeforePesq(QObject* sender, bool& allowPesq);
    void btpClienteAfterPesq(QObject* sender);
    void medCdClienteEnter();
    void medCdClienteChange();
    void medCdClienteExit();
    void btpFornecedorBeforePesq(QObject* sender, bool& allowPesq);
    void btpFornecedorAfterPesq(QObject* sender);
    void medCdFornecedorEnter();
    void medCdFornecedorChange();
    void medCdFornecedorExit();
    void btpFilialBeforePesq(QObject* sender, bool& allowPesq);
    void btpFilialAfterPesq(QObject* sender);
    void medCdFilialChange();
    void medCdFilialExit();
    void depInicialExit();
    void depFinalExit();
    void cboOperacaoChange();
    void rbtTodosOperClick();
    void rbtListaOperClick();
    void btpOperacaoBeforePesq(QObject* sender, bool& allowPesq);
    void btpOperacaoClick();

  protected:
    void FormCreate() override;
    void FormActivate() override;
    void FormClose(host::TCloseAction& action) override;

  private:
    void declareComponents();
    void declareLookups();
    void declareDataSets();
    void setDesignProperties();
    void bindHandlers();
    void bindLookups();
    // Copies the filter's direction, issuer kind and issue dates, without this form's change
    // handlers hearing of it.
    void copiaDoFiltro();
    // Replaces the note copies with the workspace's list and counts them.
    void copiaNotas();
    void exigeLinha(QWidget* edit, host::TADOIBQuery* query, const char* chave);
};

// The one report form, empty until the first CriaRelatorio; it lives until the application
// ends.
extern DFE58000_EXPORT TfrmRelatorio* frmRelatorio;
// Direction of the operation-type lookup: "E" or "S".
extern DFE58000_EXPORT QString stIdEntrSaidOp;
// Operation types chosen: "T" for all; empty while "Lista" is on and nothing is chosen yet.
extern DFE58000_EXPORT QString stCdTipoOper;
// "T" from the form's creation on; kept for modules that read it.
extern DFE58000_EXPORT QString stCNPJ;

// Shows the report form modally, creating it on first use.
DFE58000_EXPORT void CriaRelatorio();
