// NF-e synchronisation: opened with a legal registration, it brings the synchronisation group
// of that registration's addressed notes in line with the company's books. The work is done
// before the entry returns (the workspace lists the notes again right after), behind a modal
// progress dialog; the summary window stays open.
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QProgressDialog>

#include "core/hosterror.h"
#include "core/orvanta.h"
#include "forms/mdihost.h"
#include "frmsincronizacao.h"
#include "sincronizacao.h"
#include "sql/databasemodule.h"

namespace {

void synchronise(dfe59000::FrmSincronizacao& form, const QString& company,
                 const QString& registration) {
    QProgressDialog progress(QStringLiteral("Sincronizando as notas destinadas..."), QString(), 0,
                             0, host::MdiHost::mainWindow());
    progress.setObjectName(QStringLiteral("dlgProgresso"));
    progress.setWindowTitle(QStringLiteral("Sincronização de NF-e"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setCancelButton(nullptr);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setValue(0);

    QElapsedTimer clock;
    clock.start();
    try {
        dfe59000::Synchroniser sync(host::DatabaseModule::instance(), company, registration);
        sync.progress = [&progress](int done, int total) {
            if (total < 0) {
                progress.setLabelText(
                    QStringLiteral("Lendo as notas destinadas e os lançamentos..."));
                QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                return;
            }
            progress.setMaximum(qMax(total, 1));
            progress.setLabelText(
                QStringLiteral("Atualizando as notas destinadas: %1 de %2").arg(done).arg(total));
            progress.setValue(done);
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        };
        form.showSummary(sync.run(), clock.elapsed());
    } catch (const host::EHostError& e) {
        form.showFailure(e.text());
    }
}

}  // namespace

extern "C" Q_DECL_EXPORT void IniProcParams(const QVariant& params) {
    const QString registration = host::Orvanta::paramTexts(params).value(0).trimmed();
    const QString company = host::Orvanta::EmprProc();
    auto* form = new dfe59000::FrmSincronizacao;
    form->setSubject(company, registration);
    const QString plain = dfe59000::plainRegistration(registration);
    if (plain.isEmpty()) {
        form->showFailure(QStringLiteral(
            "Informe a inscrição jurídica (CNPJ ou CPF) das notas destinadas a sincronizar."));
    } else if (plain.size() != 14 && plain.size() != 11) {
        form->showFailure(QStringLiteral("Inscrição jurídica inválida: \"%1\". Informe um CNPJ "
                                         "(14 caracteres) ou um CPF (11 dígitos).")
                              .arg(registration));
    } else {
        synchronise(*form, company, registration);
    }
    host::MdiHost::addChild(form);
}
