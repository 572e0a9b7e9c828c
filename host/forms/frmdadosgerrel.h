#pragma once

#include <QStringList>

#include "forms/dialogpadrao.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;

namespace host {

class TButtonFlat;
class TReportDesignerDialog;
enum class ReportOutput;

// The suite's report base form. The top panel panRelat holds the report list cbbReportNames
// (the titles of the definitions whose code starts with the first six characters of
// lblCodRel's caption; FRepNames holds the rest of each code, in the same order) and the
// screen code lblCodRel. Below it the criteria group grbDadosRel, which the derived form
// fills. The button column runs the chosen report through rpddPadrao: print (sbtImprime),
// preview (sbtVisualiza), printer set-up (sbtConfigura), save (sbtSalva, a menu: PDF,
// spreadsheet .xlsx, CSV) and close (sbtFechar).
//
// A report whose definition file is gone stops with the message "Arq_Rel_Err" of msgPadrao
// (the derived form supplies the table), formatted with the code and the directory.
class TfrmDadosGerRel : public TDialogPadrao {
    Q_OBJECT

  public:
    explicit TfrmDadosGerRel(QWidget* parent = nullptr);
    ~TfrmDadosGerRel() override;

    // The code of the chosen report: the first six characters of lblCodRel's caption and the
    // FRepNames entry of the chosen item; empty when nothing is chosen.
    QString CodigoRelatorio() const;

    // Runs the chosen report to an output (file: the target of a saved one). What the buttons
    // do, callable by tests.
    void Executa(ReportOutput output, const QString& file = {});

    QStringList FRepNames;
    TReportDesignerDialog* rpddPadrao = nullptr;

    QFrame* panRelat = nullptr;
    QLabel* lblRelatorio = nullptr;
    QComboBox* cbbReportNames = nullptr;
    QLabel* lblCodRel = nullptr;
    QGroupBox* grbDadosRel = nullptr;
    QFrame* panMenu = nullptr;
    TButtonFlat* sbtImprime = nullptr;
    TButtonFlat* sbtVisualiza = nullptr;
    TButtonFlat* sbtConfigura = nullptr;
    TButtonFlat* sbtSalva = nullptr;
    TButtonFlat* sbtFechar = nullptr;
    QMenu* ppmSalvar = nullptr;

  protected:
    // Fills the report list from the definitions (keeping the first entry chosen).
    void FormCreate() override;
    void FormActivate() override;
    // Asks where to save (the host's dialog seam), then Executa.
    virtual void SalvaComo(ReportOutput output);
};

}  // namespace host
