#include "ui/pesqlista.h"

#include <QApplication>
#include <QSet>
#include <QStringList>
#include <algorithm>

#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "ui/dialogs.h"

namespace host::Pesqlista {

bool PesquisaLista(TDataSource* source, const QString& keyField, const QString& titles, bool single,
                   QString& result) {
    if (!source || !source->DataSet()) {
        throw EProgrammingError(
            QStringLiteral("Lista de pesquisa sem fonte de dados (%1).").arg(titles));
    }
    TClientDataSet* ds = source->DataSet();
    const int bar = titles.indexOf(QLatin1Char('|'));
    const QString title = bar < 0 ? titles : titles.left(bar);
    const QString emptyText =
        bar < 0 ? QStringLiteral("Não há registros para seleção.") : titles.mid(bar + 1);
    QWidget* parent = QApplication::activeWindow();

    if (!ds->Active() || ds->IsEmpty()) {
        dialogs().message(emptyText, MsgType::Warning, MsgButton::Ok, parent);
        return false;
    }
    TField& key = ds->FieldByName(keyField);  // unknown field: EDataSetError

    const int rows = ds->RecordCount();
    QStringList keys;
    keys.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        keys.append(key.ValueAt(r).toString().trimmed());
    }

    PickRequest req;
    req.title = title;
    req.source = ds;
    req.keyField = keyField;
    req.multiple = !single;
    const QStringList previous = result.split(QLatin1Char(','), Qt::SkipEmptyParts);
    QSet<QString> before;
    for (const QString& k : previous) {
        before.insert(k.trimmed());
    }
    for (int r = 0; r < rows; ++r) {
        if (before.contains(keys[r])) {
            req.preselected.append(r);
            if (single) {
                break;
            }
        }
    }

    const QList<int> chosen = dialogs().pick(req, parent);
    if (chosen.isEmpty()) {
        return false;
    }
    QList<int> ordered = chosen;
    std::sort(ordered.begin(), ordered.end());
    QStringList out;
    for (int r : ordered) {
        if (r < 0 || r >= rows) {
            throw EProgrammingError(
                QStringLiteral("Lista de pesquisa devolveu a linha %1 de %2.").arg(r).arg(rows));
        }
        if (keys[r].contains(QLatin1Char(','))) {
            throw EHostError(QStringLiteral("O código \"%1\" contém vírgula e não pode ser "
                                            "selecionado na lista.")
                                 .arg(keys[r]));
        }
        if (keys[r].isEmpty()) {
            continue;  // a row without a code cannot be told in the selection
        }
        out.append(keys[r]);
        if (single) {
            break;
        }
    }
    if (out.isEmpty()) {
        return false;
    }
    result = out.join(QLatin1Char(','));
    return true;
}

}  // namespace host::Pesqlista
