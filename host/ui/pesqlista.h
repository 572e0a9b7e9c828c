#pragma once

#include <QString>

namespace host {

class TDataSource;

namespace Pesqlista {

// A choice of rows of a data source's data set, through the host's pick list
// (dialogs().pick).
//
// titles: "window title|text shown when the list is empty". Without the bar, the whole text
// is the title and an empty list shows "Não há registros para seleção.".
// single: false for a multiple choice (the suite's lists), true for one row.
//
// The selection format, defined here and nowhere else: the values of keyField of the chosen
// rows, blanks trimmed, in the order of the list, joined by commas without spaces, e.g.
// "01,05,12". The keys already in result are chosen when the list opens, so the user edits
// the previous choice.
//
// result is replaced only when the user confirms with at least one row. Cancelling, or an
// empty list (whose text is shown as a warning), leaves it unchanged. Returns whether result
// was replaced. A missing data source or an unknown key field raises EHostError; a key that
// holds a comma raises EHostError too, since it could not be told apart in the selection.
bool PesquisaLista(TDataSource* source, const QString& keyField, const QString& titles, bool single,
                   QString& result);

}  // namespace Pesqlista

}  // namespace host
