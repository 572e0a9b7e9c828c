// Document viewing: opened with the branch and the entry number of a note's booked fiscal entry,
// it shows that entry from the logged-in company's books.
#include "core/hosterror.h"
#include "core/orvanta.h"
#include "forms/mdihost.h"
#include "frmvisualizacao.h"
#include "lancamento.h"

extern "C" Q_DECL_EXPORT void IniProcParams(const QVariant& params) {
    auto* form = new dfe15200::FrmVisualizacao;
    const dfe15200::EntryRef ref = dfe15200::entryRefFromParams(params);
    if (!ref.error.isEmpty()) {
        form->showMessage(ref.error);
    } else {
        try {
            const dfe15200::BookedEntry entry =
                dfe15200::readBookedEntry(host::Orvanta::EmprProc(), ref);
            if (entry.found) {
                form->showEntry(entry);
            } else {
                form->showMessage(
                    QStringLiteral("Lançamento %1 da filial %2 não encontrado na empresa %3.")
                        .arg(ref.entry, ref.branch, host::Orvanta::EmprProc()));
            }
        } catch (const host::EHostError& e) {
            form->showMessage(
                QStringLiteral("Não foi possível ler o lançamento %1 da filial %2: %3")
                    .arg(ref.entry, ref.branch, e.text()));
        }
    }
    host::MdiHost::addChild(form);
}
