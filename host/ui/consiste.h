#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <type_traits>

#include "core/hosterror.h"

class QWidget;

namespace host {

class TDBGrid;

// The suite's validation helpers, under their old names.
namespace Consiste {

// Shows text as an error through the host's error report and, when stop is set, ends the
// running user operation by throwing EStop: nothing after the call runs, but the clean-up
// guards on the way out do, and the handler boundary ends quietly.
void MensErro(const QString& text, bool stop = true);

// Ends the running user operation without a message (a choice the user cancelled).
[[noreturn]] void Abort();

// Checks an application server's answer and gives it back as the array the caller reads.
// - An array (a QVariantList, a QStringList or a CBOR array) is returned, padded with null
//   elements to at least five, so that a caller reading elements 0 to 4 never reads past its
//   end; reading the status and counts stays the caller's business.
// - A plain string is the server's own error text: it is reported with MensErro.
// - Anything else (nothing at all, an empty array, a number, a packet) is reported with
//   MensErro as "Resposta inválida do servidor de aplicação.".
// A report with stop set ends the operation; without stop an empty list is returned.
// The last argument is kept for the callers' sake and not used.
QVariantList CheckResultServ(const QVariant& result, bool stop = true, int = 0);

// Empty, or made of blanks only.
bool EmptyString(const QString& text);

// A typed code brought to a fixed width: blanks are trimmed, then zeros added on the left
// ("1" -> "01", "0001", "000000001"). An empty text stays empty (a missing code is reported
// by the caller, not turned into zeros); a text as long as the width or longer is returned
// trimmed but otherwise as is.
QString Ajusta(const QString& text, int width);

// Edit mask of a registration number for a person type, in the old toolkit's mask syntax
// "mask;keepLiterals;blank" that the host's mask edit understands:
//   "J" (CNPJ): ">aa.aaa.aaa/aaaa-99;0;_"  - the first twelve positions take a letter or a
//               digit (upper case), as alphanumeric CNPJ numbers do; the two check digits
//               are digits.
//   "F" (CPF):  "999.999.999-99;0;_"
// Literals are not stored (0); any other kind gives "" (no mask). The kind is compared by its
// first character, without regard to case or surrounding blanks.
QString PictPess(const QString& kind);

// The usual conditional, for expressions that read like the old code.
template <typename T, typename U>
auto iif(bool condition, const T& a, const U& b) -> std::common_type_t<T, U> {
    return condition ? std::common_type_t<T, U>(a) : std::common_type_t<T, U>(b);
}
inline QString iif(bool condition, const char* a, const char* b) {
    return QString::fromUtf8(condition ? a : b);
}

// First day of the date's month; an invalid date stays invalid.
QDate PriDiaMes(const QDate& date);

// Column index of a field in a grid (-1 when the grid does not show it). Written as a
// template so this header does not need the grid's.
template <typename Grid = TDBGrid>
int IndiceCol(const Grid* grid, const QString& fieldName) {
    if (!grid) {
        throw EProgrammingError(QStringLiteral("IndiceCol sem grade."));
    }
    return grid->columnIndexOfField(fieldName);
}

// Enables or disables the controls inside a container (its direct child widgets; a disabled
// child disables its own children). The container itself is left as it is.
void SetChildEnabled(QWidget* container, bool enabled);

// Key guard of numeric edits: may key be typed into text, whose selection (selStart,
// selLength) it replaces? Control keys (backspace, Ctrl+...) and an empty key always pass.
// Digits pass while the digits of the result stay within maxDigits. With decimals > 0 one
// decimal comma is allowed and at most that many digits after it. With decimals == 0 and
// maxDigits >= 14 the field holds a registration number: letters pass as well and count as
// digits, since alphanumeric CNPJ numbers carry letters. Anything else is refused.
bool MaxNumber(const QString& text, int maxDigits, int decimals, const QString& key, int selStart,
               int selLength);

}  // namespace Consiste

}  // namespace host
